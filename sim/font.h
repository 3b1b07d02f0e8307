// Text faces for the graphics manager: antialiased glyph coverage at a pixel size.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

// A rendered glyph, placed relative to the pen on the baseline.
struct Glyph {
  int left = 0;                        // bitmap's left column minus the pen's h
  int top = 0;                         // rows from the bitmap's top row down to the baseline
  int width = 0;                       // bitmap columns
  int rows = 0;                        // bitmap rows
  int advance = 0;                     // whole pixels the pen moves
  std::vector<std::uint8_t> coverage;  // width * rows, 0 (none) to 255 (full)
};

// One face at one pixel size. Glyphs are rendered once and kept.
class Face {
 public:
  virtual ~Face() = default;
  const Glyph& glyph(char32_t codepoint);
  virtual bool builtIn() const = 0;
  virtual std::string family() const = 0;
  // Rows above and below the baseline that a line of text takes.
  virtual int ascent() const = 0;
  virtual int descent() const = 0;

 protected:
  virtual Glyph render(char32_t codepoint) = 0;

 private:
  std::mutex mutex_;
  std::unordered_map<char32_t, Glyph> glyphs_;  // nodes stay put, so pointers to glyphs stay valid
  // Nearly every text the module draws is ASCII: those glyphs are found again without the lock.
  std::array<std::atomic<const Glyph*>, 128> ascii_{};
};

// Font numbers the module uses.
constexpr std::int16_t kFontLatin = 2;      // DejaVu Sans Bold
constexpr std::int16_t kFontJapanese = 30;  // IPAGothic

// The face for a font number at a size, loaded at most once per process. Sizes are clamped to 1..256.
// Unknown font numbers, builds without FreeType and fonts fontconfig cannot find get the built-in face.
Face& FaceFor(std::int16_t font, int size, bool forceBuiltIn);

// The fontconfig pattern a font number asks for ("" when the number names no system face).
const char* FontPattern(std::int16_t font);

}  // namespace sim
