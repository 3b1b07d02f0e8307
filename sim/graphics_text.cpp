#include <algorithm>
#include <limits>

#include "sim/font.h"
#include "sim/font_utf8.h"
#include "sim/graphics.h"

namespace sim {
namespace {

constexpr std::uint8_t Mix(std::uint8_t over, std::uint8_t under, unsigned alpha) {
  return static_cast<std::uint8_t>((over * alpha + under * (255 - alpha) + 127) / 255);
}

std::int16_t Saturate16(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, std::numeric_limits<std::int16_t>::min(),
                                                            std::numeric_limits<std::int16_t>::max()));
}

}  // namespace

void Graphics::textFont(std::int16_t font, std::int16_t size) {
  font_ = font;
  fontSize_ = size;
}

void Graphics::textMode(std::int16_t mode) {
  textMode_ = mode;
}

Face& Graphics::face() {
  return FaceFor(font_, fontSize_, forceFallback_);
}

bool Graphics::usesFallbackFace() {
  return face().builtIn();
}

std::int32_t Graphics::measure(const unsigned char* bytes, std::size_t count) {
  Face& f = face();
  std::int32_t width = 0;
  for (std::size_t i = 0; i < count;) width += f.glyph(NextCodepoint(bytes, count, i)).advance;
  return width;
}

std::int16_t Graphics::textWidth(const char* text, std::int16_t first, std::int16_t length) {
  if (!text || first < 0 || length <= 0) return 0;
  return Saturate16(measure(reinterpret_cast<const unsigned char*>(text) + first, length));
}

void Graphics::drawText(const char* text, std::int16_t first, std::int16_t length) {
  noteDrawing();
  const bool valid = text && first >= 0 && length > 0;
  const auto* bytes = valid ? reinterpret_cast<const unsigned char*>(text) + first : nullptr;
  const std::size_t count = valid ? static_cast<std::size_t>(length) : 0;
  texts_.push_back({font_, fontSize_, penH_, penV_,
                    std::string(reinterpret_cast<const char*>(bytes), bytes ? count : 0), fore_,
                    currentPort()});
  if (!valid) return;

  Face& f = face();
  std::int32_t pen = penH_;
  if (current_ && drawPixels_ && textMode_ != 1) {
    // Any mode but glyphs-only paints the line box behind the text first (on a camera nobody looks at,
    // nothing is painted, so nothing is measured).
    const std::int32_t width = measure(bytes, count);
    fill(*current_, pen, penV_ - f.ascent(), pen + width, penV_ + f.descent(), back_);
  }
  for (std::size_t i = 0; i < count;) {
    const Glyph& g = f.glyph(NextCodepoint(bytes, count, i));
    if (current_ && drawPixels_ && !g.coverage.empty()) {
      Port& p = *current_;
      const int ox = pen + g.left - p.left;
      const int oy = penV_ - g.top - p.top;
      const int c0 = std::max(0, -ox);
      const int c1 = std::min(g.width, p.width - ox);
      const int r0 = std::max(0, -oy);
      const int r1 = std::min(g.rows, p.height - oy);
      for (int r = r0; r < r1; ++r) {
        const std::uint8_t* cov = g.coverage.data() + static_cast<std::size_t>(r) * g.width;
        for (int c = c0; c < c1; ++c) {
          const unsigned a = cov[c];
          if (a == 0) continue;
          const Ycc under = p.get(ox + c, oy + r);
          p.put(ox + c, oy + r,
                {Mix(fore_.cb, under.cb, a), Mix(fore_.y, under.y, a), Mix(fore_.cr, under.cr, a)});
        }
      }
    }
    pen += g.advance;
  }
  penH_ = static_cast<std::int16_t>(pen);  // the pen wraps like every 16-bit coordinate
}

}  // namespace sim
