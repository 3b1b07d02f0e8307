// Writing update files: header, image, tagged trailer, "DONE" and both byte sums.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "package/file_layout.h"
#include "package/tags.h"

namespace vupdate {

// The longest image the camera accepts.
constexpr std::uint32_t kMaxImageSize = kImageSizeLimit;
constexpr std::size_t kMaxTextLength = kTextFieldSize - 1;

struct TrailerItem {
  std::uint32_t tag;
  std::vector<std::uint8_t> data;
};

TrailerItem NumberItem(std::uint32_t tag, std::uint32_t value);
// A 32-byte field, zero-padded; a text of 32 bytes or more fills the field without a terminator.
TrailerItem TextItem(std::uint32_t tag, std::string_view text);

// What `vupdate pack` writes into the trailer.
struct UpdateMetadata {
  std::uint32_t firmware = 0;
  std::uint32_t ccs = 0;
  std::uint32_t region = 0;
  std::uint32_t installer = 0;
  std::string vendor;
  std::string product;
  std::uint32_t serialMin = 0;
  std::uint32_t serialMax = 0;
  std::optional<std::string> debug;
  std::uint32_t imageStart = 0;
};

// Why these values cannot go into a file the camera would take, or nullopt when they can.
std::optional<std::string> CheckMetadata(const UpdateMetadata& meta);
std::optional<std::string> CheckImageSize(std::uintmax_t imageSize);

// The trailer items in the order pack writes them, "DONE" not included.
std::vector<TrailerItem> MetadataItems(const UpdateMetadata& meta);

// Every field of a file, defaulting to what a correct writer puts there; tests override
// single fields to build damaged or malformed files.
struct FileLayout {
  std::uint32_t fileType = kTagCode;
  std::uint32_t headerSize = 64;
  std::optional<std::uint32_t> trailerOffset;  // 64 + image size
  std::optional<std::uint32_t> imageChecksum;  // byte sum of the image
  std::uint32_t imageStart = 0;
  std::optional<std::uint32_t> imageEnd;  // imageStart + image size - 1
  std::vector<std::uint8_t> image;
  std::vector<TrailerItem> items;
  bool appendDone = true;
  std::optional<std::uint32_t> fileChecksum;  // byte sum of everything before it
};

FileLayout LayoutFor(std::vector<std::uint8_t> image, const UpdateMetadata& meta);
std::vector<std::uint8_t> BuildUpdateFile(const FileLayout& layout);

std::uint32_t ByteSum(std::span<const std::uint8_t> bytes);

// Writes a sibling temporary file and renames it into place, so a failure never leaves a
// partial file at `path`. A file replaced keeps its mode; a new file gets 0666 less the umask.
// `temporary` is told each temporary name before the file is made. Returns an error text, or nullopt.
std::optional<std::string> WriteFileAtomically(
    const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
    const std::function<void(const std::filesystem::path&)>& temporary = {});

}  // namespace vupdate
