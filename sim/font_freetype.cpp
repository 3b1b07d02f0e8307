#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/font_freetype.h"

namespace sim {
namespace {

// The calls made into FreeType and fontconfig. They are looked up when the first face is wanted, not linked:
// most vupdate commands never draw text, and loading both libraries (with png, brotli and expat behind them)
// was most of every start. Typed by the headers' own declarations, so those stay the contract.
// clang-format off
#define VESTRA_FONT_CALLS(X)                                                                                   \
  X(FT_Init_FreeType) X(FT_New_Face) X(FT_Done_Face) X(FT_Request_Size) X(FT_Get_Char_Index) X(FT_Load_Glyph)  \
  X(FT_Render_Glyph)                                                                                           \
  X(FcInit) X(FcFini) X(FcConfigGetCurrent) X(FcNameParse) X(FcConfigSubstitute) X(FcDefaultSubstitute)        \
  X(FcFontMatch) X(FcPatternDestroy) X(FcPatternGetString) X(FcPatternGetInteger) X(FcPatternGetCharSet)       \
  X(FcCharSetHasChar)
// clang-format on

struct FontLibraries {
// A declarator cannot be parenthesised.
#define VESTRA_FONT_POINTER(name) decltype(&::name) name = nullptr;  // NOLINT(bugprone-macro-parentheses)
  VESTRA_FONT_CALLS(VESTRA_FONT_POINTER)
#undef VESTRA_FONT_POINTER
};

// Null when either library or one of its calls is missing: then every face is the built-in one, as when
// fontconfig finds no font. The libraries stay loaded for the process (fontconfig is torn down at exit).
const FontLibraries* Libraries() {
  static const FontLibraries* const libraries = []() -> const FontLibraries* {
    void* freetype = dlopen(VESTRA_FREETYPE_SONAME, RTLD_NOW | RTLD_LOCAL);
    void* fontconfig = freetype ? dlopen(VESTRA_FONTCONFIG_SONAME, RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!fontconfig) {
      if (freetype) dlclose(freetype);
      return nullptr;
    }
    static FontLibraries calls;
    bool complete = true;
#define VESTRA_FONT_LOOKUP(name)                                                         \
  calls.name = reinterpret_cast<decltype(calls.name)>(                                   \
      dlsym(std::string_view(#name).starts_with("FT_") ? freetype : fontconfig, #name)); \
  complete = complete && calls.name != nullptr;
    VESTRA_FONT_CALLS(VESTRA_FONT_LOOKUP)
#undef VESTRA_FONT_LOOKUP
    if (complete) return &calls;
    dlclose(fontconfig);
    dlclose(freetype);
    return nullptr;
  }();
  return libraries;
}

// One library for the process; FreeType objects are not shared across libraries.
FT_Library Library(const FontLibraries& fl) {
  static FT_Library library = [&fl] {
    FT_Library lib = nullptr;
    if (fl.FT_Init_FreeType(&lib) != 0) lib = nullptr;
    return lib;
  }();
  return library;
}

struct Match {
  std::string file;
  int index = 0;
  std::string family;
};

// fontconfig always proposes something; a Japanese font must at least cover kana to be worth using.
bool FindFont(const FontLibraries& fl, const char* pattern, bool needJapanese, Match* match) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  // Set up once and torn down at exit: fontconfig keeps its configuration otherwise, and leak checkers
  // rightly complain about it.
  static const bool ready = [&fl] {
    if (!fl.FcInit()) return false;
    std::atexit([] { Libraries()->FcFini(); });
    return true;
  }();
  if (!ready) return false;
  FcConfig* config = fl.FcConfigGetCurrent();
  if (!config) return false;
  FcPattern* pat = fl.FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
  if (!pat) return false;
  fl.FcConfigSubstitute(config, pat, FcMatchPattern);
  fl.FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* found = fl.FcFontMatch(config, pat, &result);
  fl.FcPatternDestroy(pat);
  if (!found) return false;
  bool ok = false;
  FcChar8* file = nullptr;
  if (fl.FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch && file) {
    ok = true;
    if (needJapanese) {
      FcCharSet* chars = nullptr;
      ok = fl.FcPatternGetCharSet(found, FC_CHARSET, 0, &chars) == FcResultMatch && chars &&
           fl.FcCharSetHasChar(chars, 0x3042) && fl.FcCharSetHasChar(chars, 0x30A2);
    }
    match->file = reinterpret_cast<const char*>(file);
    int index = 0;
    if (fl.FcPatternGetInteger(found, FC_INDEX, 0, &index) == FcResultMatch) match->index = index;
    FcChar8* family = nullptr;
    if (fl.FcPatternGetString(found, FC_FAMILY, 0, &family) == FcResultMatch && family) {
      match->family = reinterpret_cast<const char*>(family);
    }
  }
  fl.FcPatternDestroy(found);
  return ok;
}

class FreeTypeFace final : public Face {
 public:
  FreeTypeFace(const FontLibraries& fl, FT_Face face, std::string family)
      : fl_(fl), face_(face), family_(std::move(family)) {
    ascent_ = static_cast<int>((face_->size->metrics.ascender + 63) >> 6);
    descent_ = static_cast<int>((-face_->size->metrics.descender + 63) >> 6);
  }
  ~FreeTypeFace() override { fl_.FT_Done_Face(face_); }

  bool builtIn() const override { return false; }
  std::string family() const override { return family_; }
  int ascent() const override { return ascent_; }
  int descent() const override { return descent_; }

 protected:
  Glyph render(char32_t codepoint) override {
    Glyph g;
    const FT_UInt index = fl_.FT_Get_Char_Index(face_, codepoint);
    if (fl_.FT_Load_Glyph(face_, index, FT_LOAD_DEFAULT) != 0) return g;
    FT_GlyphSlot slot = face_->glyph;
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (fl_.FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return g;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.width == 0 || bm.rows == 0) return g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.rows = static_cast<int>(bm.rows);
    g.coverage.resize(static_cast<std::size_t>(g.width) * g.rows);
    const int levels = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
    for (int row = 0; row < g.rows; ++row) {
      const unsigned char* src =
          bm.pitch >= 0 ? bm.buffer + row * bm.pitch : bm.buffer + (g.rows - 1 - row) * -bm.pitch;
      for (int col = 0; col < g.width; ++col) {
        g.coverage[static_cast<std::size_t>(row) * g.width + col] =
            static_cast<std::uint8_t>(src[col] * 255 / levels);
      }
    }
    return g;
  }

 private:
  const FontLibraries& fl_;
  FT_Face face_;
  std::string family_;
  int ascent_ = 0;
  int descent_ = 0;
};

}  // namespace

std::unique_ptr<Face> LoadSystemFace(const char* pattern, bool needJapanese, int size) {
  const FontLibraries* libraries = Libraries();
  if (!libraries) return nullptr;
  const FontLibraries& fl = *libraries;
  FT_Library library = Library(fl);
  Match match;
  if (!library || !FindFont(fl, pattern, needJapanese, &match)) return nullptr;
  FT_Face face = nullptr;
  if (fl.FT_New_Face(library, match.file.c_str(), match.index, &face) != 0) return nullptr;
  // The platform's sizes are whole line heights (an 18-pixel line puts its baseline 16 pixels down), so
  // the size is the face's cell, ascender to descender, not its em square.
  FT_Size_RequestRec request{FT_SIZE_REQUEST_TYPE_CELL, 0, static_cast<FT_Long>(size) * 64, 0, 0};
  if (fl.FT_Request_Size(face, &request) != 0) {
    fl.FT_Done_Face(face);
    return nullptr;
  }
  return std::make_unique<FreeTypeFace>(fl, face, match.family);
}

}  // namespace sim
