// The built-in face: a 5x9 bitmap font (7 rows above the baseline, 2 below) scaled to the pixel size, with a
// fixed advance. Serves builds without FreeType and hosts where fontconfig finds no face.
#pragma once

#include <array>
#include <cstdint>

#include "sim/font.h"

namespace sim {

class FallbackFace final : public Face {
 public:
  explicit FallbackFace(int size);
  bool builtIn() const override { return true; }
  std::string family() const override { return "built-in"; }
  int ascent() const override { return cap_ + 1; }
  int descent() const override { return rows_ - cap_; }
  int advance() const { return advance_; }

 protected:
  Glyph render(char32_t codepoint) override;

 private:
  int cap_;      // rows above the baseline
  int rows_;     // rows of a glyph's bitmap
  int width_;    // columns of a glyph's bitmap
  int advance_;  // the same for every glyph
};

// The source bitmap of a printable ASCII character: 9 rows, bit 4 the leftmost column. Empty otherwise.
std::array<std::uint8_t, 9> FallbackBitmap(char32_t codepoint);

}  // namespace sim
