#include "sim/font_utf8.h"

namespace sim {

char32_t NextCodepoint(const unsigned char* bytes, std::size_t count, std::size_t& at) {
  const std::size_t i = at;
  const unsigned char lead = bytes[i];
  if (lead < 0x80) {
    at = i + 1;
    return lead;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    at = i + 1;
    return U'\uFFFD';
  }
  std::size_t j = i + 1;
  for (; j < count && j <= i + extra; ++j) {
    if ((bytes[j] & 0xC0) != 0x80) break;
    cp = (cp << 6) | (bytes[j] & 0x3F);
  }
  at = j;  // after a broken sequence: resynchronise on the byte that broke it
  if (j != i + 1 + static_cast<std::size_t>(extra) || cp < min || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    return U'\uFFFD';
  }
  return cp;
}

std::u32string DecodeUtf8(const unsigned char* bytes, std::size_t count) {
  std::u32string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count;) out.push_back(NextCodepoint(bytes, count, i));
  return out;
}

}  // namespace sim
