// Text in the simulated graphics manager: widths, Japanese glyphs and UTF-8.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "sim/font.h"
#ifdef VESTRA_WITH_FREETYPE
#include "sim/font_freetype.h"
#endif
#include "sim/font_utf8.h"
#include "tests/panels/screen_fixture.h"

namespace {

const GXColor kBack{160, 60, 200};
const char kKana[] = "\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86";  // あいう

class TextTest : public vestra_test::ScreenTest {
 protected:
  void SetUp() override {
    Start();
    Clear(kBack);
    vestra::GMRGBForeColor(&gWhite);
    vestra::GMTextMode(1);
    vestra::GMTextFont(2, 18);
  }

  static int Width(const char* text) {
    return vestra::GMTextWidth(text, 0, static_cast<std::int16_t>(std::strlen(text)));
  }
  static void Draw(int h, int v, const char* text) {
    vestra::GMMoveTo(static_cast<std::int16_t>(h), static_cast<std::int16_t>(v));
    vestra::GMDrawText(text, 0, static_cast<std::int16_t>(std::strlen(text)));
  }
  // The pixels of a 40 x 40 block from (h, v).
  std::vector<sim::Ycc> Pixels(int h, int v) {
    std::vector<sim::Ycc> out;
    for (int i = 0; i < 40 * 40; ++i) out.push_back(Pixel(h + i % 40, v + i / 40).value());
    return out;
  }
};

TEST_F(TextTest, WidthGrowsWithTheTextAndTheSizeInEveryFace) {
  const std::tuple<std::int16_t, bool, const char*, const char*> cases[] = {
      // Font, built-in face, a text and a longer one.
      {2, false, "Abort", "Abort the update"},
      {30, false, "\xE3\x81\x82", kKana},
      {2, true, "Yes", "Yes, update"}};
  for (const auto& [font, builtIn, shorter, longer] : cases) {
    SCOPED_TRACE(testing::Message() << "font " << font << " built-in " << builtIn);
    graphics().setForceFallbackFont(builtIn);
    vestra::GMTextFont(font, 18);
    const int longW = Width(longer);
    EXPECT_GT(Width(shorter), 0);
    EXPECT_GT(longW, Width(shorter));
    EXPECT_EQ(Width(""), 0);
    vestra::GMTextFont(font, 24);
    EXPECT_GT(Width(longer), longW);
  }
}

TEST_F(TextTest, SystemFacesLoadAndJapaneseTextRendersRealGlyphsWithFontThirty) {
#ifndef VESTRA_WITH_FREETYPE
  GTEST_SKIP() << "built without FreeType: every text uses the built-in face";
#endif
  for (const std::int16_t font : {2, 30}) {
    vestra::GMTextFont(font, 24);
    ASSERT_FALSE(graphics().usesFallbackFace())
        << "font " << font << ": FreeType or fontconfig did not load, "
        << "or fontconfig found no face";
  }
  EXPECT_GE(Width(kKana), 3 * 24 * 8 / 10);  // full-width glyphs
  Draw(10, 40, "\xE3\x81\x82");
  Draw(110, 40, "\xE3\x81\x86");
  const std::vector<sim::Ycc> blank(40 * 40, vestra_test::AsYcc(kBack));
  EXPECT_NE(Pixels(10, 10), blank);
  // Two different kana differ in ink: not one placeholder box for both.
  EXPECT_NE(Pixels(10, 10), Pixels(110, 10));
}

// The system's folders are searched first for a face whose family and style are installed: the file must be
// the one the system's whole configuration gives, for the camera's faces and for requests it cannot meet.
TEST(SystemFontFile, TheSameFileAsTheWholeConfigurationGives) {
#ifndef VESTRA_WITH_FREETYPE
  GTEST_SKIP() << "built without FreeType: every text uses the built-in face";
#else
  const struct {
    const char* pattern;
    bool japanese;
  } requests[] = {{sim::FontPattern(2), false},       {sim::FontPattern(30), true},
                  {"DejaVu Sans:style=Book", false},  {"DejaVu Sans:style=No Such Style", false},
                  {"No Such Family Anywhere", false}, {"DejaVu Sans", true}};
  for (const auto& r : requests) {
    const std::string whole = sim::SystemFontFile(r.pattern, r.japanese, true);
    EXPECT_EQ(sim::SystemFontFile(r.pattern, r.japanese, false), whole) << r.pattern;
  }
  EXPECT_NE(sim::SystemFontFile(sim::FontPattern(2), false, false), "");
#endif
}

// A text is measured code point by code point, ASCII glyphs found again without the lock once rendered: its
// width is the sum of its characters' widths, each first measured alone (the system face's advances differ).
TEST_F(TextTest, WidthOfATextIsTheSumOfItsCharactersWidths) {
  for (const bool builtIn : {false, true}) {
    graphics().setForceFallbackFont(builtIn);
    vestra::GMTextFont(2, 23);  // a size no other test renders, so every glyph starts unknown
    const std::string text = "Wi.lM~ \xC3\xA9" + std::string(kKana) + "Wi";
    int sum = 0;
    for (std::size_t i = 0; i < text.size();) {
      std::size_t next = i;
      sim::NextCodepoint(reinterpret_cast<const unsigned char*>(text.data()), text.size(), next);
      sum += vestra::GMTextWidth(text.c_str(), static_cast<std::int16_t>(i),
                                 static_cast<std::int16_t>(next - i));
      i = next;
    }
    EXPECT_EQ(Width(text.c_str()), sum) << "built-in " << builtIn;
    if (!graphics().usesFallbackFace()) {
      EXPECT_NE(Width("ii"), Width("WW")) << "advances that differ";
    }
  }
}

TEST(Utf8Test, DecodesAndReplacesMalformedSequences) {
  const std::pair<const char*, std::u32string> cases[] = {
      {"\xF0\x9F\x98\x80", U"\U0001F600"},
      {"\xC0\xAF", U"\uFFFD"},          // overlong
      {"\xE3\x41", U"\uFFFDA"},         // cut short by a new character
      {"\xED\xA0\x80", U"\uFFFD"},      // surrogate
      {"\xF4\x90\x80\x80", U"\uFFFD"},  // beyond U+10FFFF
      {"\x80z", U"\uFFFDz"},            // stray continuation byte
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(sim::DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes), std::strlen(bytes)), expected)
        << bytes;
  }
}

}  // namespace
