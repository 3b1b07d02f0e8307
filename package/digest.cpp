#include "package/digest.h"

#include <array>

namespace {

// Eight tables let the loop take eight bytes a step (slicing by eight); the bytes are still read one at a
// time, so the result is the same on either byte order.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeTables() {
  CrcTables tables{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
    tables[0][n] = c;
  }
  for (std::size_t t = 1; t < tables.size(); ++t) {
    for (std::uint32_t n = 0; n < 256; ++n) {
      const std::uint32_t previous = tables[t - 1][n];
      tables[t][n] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr CrcTables kTables = MakeTables();

constexpr std::uint32_t LittleWord(const std::uint8_t* b) {
  return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
         (std::uint32_t{b[3]} << 24);
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::uint32_t count) {
  const auto& t = kTables;
  for (; count >= 8; count -= 8, bytes += 8) {
    const std::uint32_t low = crc ^ LittleWord(bytes);
    const std::uint32_t high = LittleWord(bytes + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; count > 0; --count, ++bytes) crc = t[0][(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
  return crc;
}
