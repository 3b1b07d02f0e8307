// A strong digest of the image, to tell the bytes that were verified from the bytes that reached the flash:
// a byte sum misses bytes that trade places and changes that cancel; CRC-32 does not.
#pragma once

#include <cstdint>

constexpr std::uint32_t kCrc32Start = 0xFFFFFFFF;

// Feeds count bytes into a running CRC-32 (IEEE, reflected); start from kCrc32Start, finish with Crc32Final.
std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::uint32_t count);
inline std::uint32_t Crc32Final(std::uint32_t crc) {
  return crc ^ 0xFFFFFFFF;
}
