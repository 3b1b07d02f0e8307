// The LCD frame as the page decodes it (web/app.js, drawFrame).
#include "cli/serve_frame.h"

#include <algorithm>
#include <cstdint>

namespace vupdate::serve {

std::string EncodeFrame(const sim::RgbImage& image) {
  std::string runs;
  const std::size_t pixels = image.rgb.size() / 3;
  for (std::size_t i = 0; i < pixels;) {
    const std::uint8_t* p = &image.rgb[i * 3];
    std::size_t n = 1;
    while (n < 256 && i + n < pixels && std::equal(p, p + 3, &image.rgb[(i + n) * 3])) ++n;
    runs += static_cast<char>(n - 1);
    runs.append(reinterpret_cast<const char*>(p), 3);
    i += n;
  }
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((runs.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < runs.size(); i += 3) {
    const std::size_t left = runs.size() - i;
    const std::uint32_t v = (std::uint32_t{static_cast<std::uint8_t>(runs[i])} << 16) |
                            (left > 1 ? std::uint32_t{static_cast<std::uint8_t>(runs[i + 1])} << 8 : 0) |
                            (left > 2 ? std::uint32_t{static_cast<std::uint8_t>(runs[i + 2])} : 0);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += left > 1 ? kDigits[(v >> 6) & 63] : '=';
    out += left > 2 ? kDigits[v & 63] : '=';
  }
  return out;
}

}  // namespace vupdate::serve
