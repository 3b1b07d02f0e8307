// The page of vupdate serve, built into the binary from web/.
#pragma once

#include <cstddef>

struct WebAsset {
  const char* path;  // "/index.html"
  const char* type;  // the Content-Type
  const unsigned char* data;
  std::size_t size;
};

extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;
