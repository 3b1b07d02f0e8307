#include "sim/font.h"

#include <algorithm>
#include <map>
#include <utility>

#include "sim/fallback_font.h"
#ifdef VESTRA_WITH_FREETYPE
#include "sim/font_freetype.h"
#endif

namespace sim {

const Glyph& Face::glyph(char32_t codepoint) {
  const bool ascii = codepoint < ascii_.size();
  if (ascii) {
    if (const Glyph* known = ascii_[codepoint].load(std::memory_order_acquire)) return *known;
  }
  std::lock_guard lock(mutex_);
  auto it = glyphs_.find(codepoint);
  if (it == glyphs_.end()) it = glyphs_.emplace(codepoint, render(codepoint)).first;
  if (ascii) ascii_[codepoint].store(&it->second, std::memory_order_release);
  return it->second;
}

const char* FontPattern(std::int16_t font) {
  switch (font) {
    case kFontLatin:
      return "DejaVu Sans:style=Condensed Bold";
    case kFontJapanese:
      return "IPAGothic";
    default:
      return "";
  }
}

Face& FaceFor(std::int16_t font, int size, bool forceBuiltIn) {
  // Faces live for the whole process: opening a font file per call would dominate every screen draw.
  static std::mutex mutex;
  static std::map<std::pair<int, int>, std::unique_ptr<Face>> faces;
  size = std::clamp(size, 1, 256);
  const char* pattern = forceBuiltIn ? "" : FontPattern(font);
  const int key = *pattern ? font : -1;  // every built-in request shares one face per size
  std::lock_guard lock(mutex);
  auto& slot = faces[{key, size}];
  if (!slot) {
#ifdef VESTRA_WITH_FREETYPE
    if (*pattern) slot = LoadSystemFace(pattern, font == kFontJapanese, size);
#endif
    if (!slot) slot = std::make_unique<FallbackFace>(size);
  }
  return *slot;
}

}  // namespace sim
