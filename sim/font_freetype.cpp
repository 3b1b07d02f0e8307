#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/font_freetype.h"

namespace sim {
namespace {

// The calls made into FreeType and fontconfig. They are looked up when the first face is wanted, not linked:
// most vupdate commands never draw text, and loading both libraries (with png, brotli and expat behind them)
// would be most of every start. Typed by the headers' own declarations, so those stay the contract.
// clang-format off
#define VESTRA_FONT_CALLS(X)                                                                                   \
  X(FT_Init_FreeType) X(FT_New_Face) X(FT_Done_Face) X(FT_Request_Size) X(FT_Get_Char_Index) X(FT_Load_Glyph)  \
  X(FT_Render_Glyph)                                                                                           \
  X(FcInit) X(FcFini) X(FcConfigGetCurrent) X(FcNameParse) X(FcConfigSubstitute) X(FcDefaultSubstitute)        \
  X(FcFontMatch) X(FcPatternDestroy) X(FcPatternGetString) X(FcPatternGetInteger) X(FcPatternGetCharSet)       \
  X(FcCharSetHasChar)
// Calls for a configuration of our own (fontconfig 2.13 and later); without them every search goes through
// the system's configuration.
#define VESTRA_FONT_DIRECT_CALLS(X)                                                                            \
  X(FcConfigCreate) X(FcConfigDestroy) X(FcConfigParseAndLoadFromMemory) X(FcConfigBuildFonts)
// clang-format on

struct FontLibraries {
// A declarator cannot be parenthesised.
#define VESTRA_FONT_POINTER(name) decltype(&::name) name = nullptr;  // NOLINT(bugprone-macro-parentheses)
  VESTRA_FONT_CALLS(VESTRA_FONT_POINTER)
  VESTRA_FONT_DIRECT_CALLS(VESTRA_FONT_POINTER)
#undef VESTRA_FONT_POINTER
  bool direct = false;  // every call of VESTRA_FONT_DIRECT_CALLS is there
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
    if (complete) {
      VESTRA_FONT_DIRECT_CALLS(VESTRA_FONT_LOOKUP)
      calls.direct = complete;
      return &calls;
    }
#undef VESTRA_FONT_LOOKUP
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

// The system's folders of fonts and of their caches, as Debian's own configuration names them.
constexpr const char* kFontFolders = R"(<?xml version="1.0"?>
<fontconfig>
  <dir>/usr/share/fonts</dir>
  <dir>/usr/local/share/fonts</dir>
  <dir prefix="xdg">fonts</dir>
  <dir>~/.fonts</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
  <cachedir prefix="xdg">fontconfig</cachedir>
  <cachedir>~/.fontconfig</cachedir>
</fontconfig>
)";

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Whether each family and style the request names is one of the found font's own names.
bool NamesMatch(const FontLibraries& fl, FcPattern* request, FcPattern* found) {
  for (const char* object : {FC_FAMILY, FC_STYLE}) {
    FcChar8* wanted = nullptr;
    for (int i = 0; fl.FcPatternGetString(request, object, i, &wanted) == FcResultMatch; ++i) {
      bool named = false;
      FcChar8* own = nullptr;
      for (int j = 0; !named && fl.FcPatternGetString(found, object, j, &own) == FcResultMatch; ++j) {
        named = SameText(reinterpret_cast<const char*>(wanted), reinterpret_cast<const char*>(own));
      }
      if (!named) return false;
    }
  }
  return true;
}

// fontconfig always proposes something; a Japanese font must at least cover kana to be worth using. With
// exactNames, a font is taken only if it carries the family and style the pattern names.
bool MatchIn(const FontLibraries& fl, FcConfig* config, const char* pattern, bool needJapanese,
             bool exactNames, Match* match) {
  *match = Match{};
  FcPattern* pat = fl.FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
  if (!pat) return false;
  fl.FcConfigSubstitute(config, pat, FcMatchPattern);
  fl.FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* found = fl.FcFontMatch(config, pat, &result);
  FcPattern* request = exactNames ? fl.FcNameParse(reinterpret_cast<const FcChar8*>(pattern)) : nullptr;
  fl.FcPatternDestroy(pat);
  if (!found) {
    if (request) fl.FcPatternDestroy(request);
    return false;
  }
  bool ok = false;
  FcChar8* file = nullptr;
  if (fl.FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch && file) {
    ok = !exactNames || (request && NamesMatch(fl, request, found));
    if (ok && needJapanese) {
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
  if (request) fl.FcPatternDestroy(request);
  fl.FcPatternDestroy(found);
  return ok;
}

// Reading the system's whole configuration (some sixty files of rules) took several milliseconds, ten times
// what the fonts themselves take from the system's caches. A font installed in the system's folders under
// the family and style asked for is what the whole configuration picks too (unless a local rule rejects or
// replaces it), so it is looked for there first; any other request goes through the whole configuration.
bool FindFont(const FontLibraries& fl, const char* pattern, bool needJapanese, bool wholeConfigurationOnly,
              Match* match) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  // Set up once and torn down at exit, ours before the system's: fontconfig keeps its configurations
  // otherwise, and leak checkers rightly complain about it.
  static FcConfig* folders = nullptr;
  static bool system = false;
  static const bool once = [&fl] {
    std::atexit([] {
      if (folders) Libraries()->FcConfigDestroy(folders);
      if (system) Libraries()->FcFini();
    });
    if (fl.direct && (folders = fl.FcConfigCreate()) != nullptr &&
        !(fl.FcConfigParseAndLoadFromMemory(folders, reinterpret_cast<const FcChar8*>(kFontFolders),
                                            FcFalse) &&
          fl.FcConfigBuildFonts(folders))) {
      fl.FcConfigDestroy(folders);
      folders = nullptr;
    }
    return true;
  }();
  (void)once;
  if (folders && !wholeConfigurationOnly && MatchIn(fl, folders, pattern, needJapanese, true, match))
    return true;
  static const bool ready = [&fl] { return system = fl.FcInit() != 0; }();
  if (!ready) return false;
  FcConfig* config = fl.FcConfigGetCurrent();
  return config && MatchIn(fl, config, pattern, needJapanese, false, match);
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
  if (!library || !FindFont(fl, pattern, needJapanese, false, &match)) return nullptr;
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

std::string SystemFontFile(const char* pattern, bool needJapanese, bool wholeConfigurationOnly) {
  const FontLibraries* libraries = Libraries();
  Match match;
  if (!libraries || !FindFont(*libraries, pattern, needJapanese, wholeConfigurationOnly, &match)) return {};
  return match.file;
}

}  // namespace sim
