// Text in the simulated graphics manager: faces, widths, placement on the baseline, blending and records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "sim/camera.h"
#include "sim/font.h"
#include "sim/font_utf8.h"
#include "sim/graphics.h"

namespace {

using vestra::Rect;

constexpr sim::Ycc kBack{160, 60, 200};
constexpr sim::Ycc kInk{128, 255, 128};
const char kKana[] = "\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86";  // あいう

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera_ = std::make_unique<sim::Camera>(sim::CameraOptions{});
    sim::SetCurrent(camera_.get());
    Rect r{0, 0, 216, 288};
    vestra::GMNewGWorld(&draw_, 32, &r, 0, 0, 0);
    vestra::GMSetPort(draw_);
    const vestra::RGBColor back{kBack.cb, kBack.y, kBack.cr};
    vestra::GMRGBBackColor(&back);
    vestra::GMEraseRect(&r);
    const vestra::RGBColor ink{kInk.cb, kInk.y, kInk.cr};
    vestra::GMRGBForeColor(&ink);
    vestra::GMTextMode(1);
    vestra::GMTextFont(2, 18);
  }
  void TearDown() override { sim::SetCurrent(nullptr); }

  sim::Graphics& graphics() { return camera_->graphics(); }

  static int Width(const char* text) {
    return vestra::GMTextWidth(text, 0, static_cast<std::int16_t>(std::strlen(text)));
  }
  static void Draw(int h, int v, const char* text) {
    vestra::GMMoveTo(static_cast<std::int16_t>(h), static_cast<std::int16_t>(v));
    vestra::GMDrawText(text, 0, static_cast<std::int16_t>(std::strlen(text)));
  }

  // The pixels text changed, and their extent.
  struct Ink {
    int changed = 0, full = 0, partial = 0;
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;  // inclusive
  };
  Ink Scan() {
    Ink ink;
    for (int v = 0; v < 216; ++v) {
      for (int h = 0; h < 288; ++h) {
        const sim::Ycc p = graphics().pixel(draw_, h, v).value();
        if (p == kBack) continue;
        ++ink.changed;
        (p == kInk ? ink.full : ink.partial)++;
        ink.left = std::min(ink.left, h), ink.right = std::max(ink.right, h);
        ink.top = std::min(ink.top, v), ink.bottom = std::max(ink.bottom, v);
      }
    }
    return ink;
  }

  // A 40 x 40 block of pixels from (h, v).
  std::vector<sim::Ycc> Window(int h, int v) {
    std::vector<sim::Ycc> out;
    for (int y = v; y < v + 40; ++y) {
      for (int x = h; x < h + 40; ++x) out.push_back(graphics().pixel(draw_, x, y).value());
    }
    return out;
  }

  std::unique_ptr<sim::Camera> camera_;
  vestra::GWorldPtr draw_ = nullptr;
};

TEST_F(TextTest, WidthGrowsWithTheTextAndTheSizeInEveryFace) {
  struct Case {
    const char* what;
    std::int16_t font;
    bool fallback;
    const char* shorter;
    const char* longer;
  };
  const Case cases[] = {
      {"DejaVu", 2, false, "Abort", "Abort the update"},
      {"Japanese face", 30, false, "\xE3\x81\x82", kKana},
      {"built-in face", 2, true, "Yes", "Yes, update"},
  };
  for (const Case& c : cases) {
    graphics().setForceFallbackFont(c.fallback);
    vestra::GMTextFont(c.font, 18);
    const int shortW = Width(c.shorter);
    const int longW = Width(c.longer);
    EXPECT_GT(shortW, 0) << c.what;
    EXPECT_GT(longW, shortW) << c.what;
    EXPECT_EQ(Width(""), 0) << c.what;
    vestra::GMTextFont(c.font, 24);
    EXPECT_GT(Width(c.longer), longW) << c.what;
  }
}

TEST_F(TextTest, WidthCountsOnlyTheBytesAskedFor) {
  const char text[] = "xxStartyy";
  EXPECT_EQ(vestra::GMTextWidth(text, 2, 5), Width("Start"));
  EXPECT_EQ(vestra::GMTextWidth(nullptr, 0, 5), 0);
  EXPECT_EQ(vestra::GMTextWidth(text, -1, 5), 0);
  EXPECT_EQ(vestra::GMTextWidth(text, 0, -3), 0);
}

TEST_F(TextTest, DrawingAdvancesThePenByTheWidthAndIsRecorded) {
  Draw(10, 100, "Start");
  vestra::GMDrawText("Abort", 0, 5);  // continues at the pen
  ASSERT_EQ(graphics().texts().size(), 2u);
  const sim::TextRecord& first = graphics().texts()[0];
  EXPECT_EQ(first.text, "Start");
  EXPECT_EQ(first.font, 2);
  EXPECT_EQ(first.size, 18);
  EXPECT_EQ(first.h, 10);
  EXPECT_EQ(first.v, 100);
  EXPECT_EQ(first.colour, kInk);
  EXPECT_EQ(first.port, draw_);
  EXPECT_EQ(graphics().texts()[1].h, 10 + Width("Start"));
  graphics().clearRecords();
  EXPECT_TRUE(graphics().texts().empty());
}

TEST_F(TextTest, GlyphsStandOnTheBaselineAndDescendersGoBelow) {
  Draw(20, 50, "HE");
  Ink ink = Scan();
  EXPECT_EQ(ink.bottom, 49);  // flat-bottomed capitals end on the row above the baseline
  EXPECT_GE(ink.top, 50 - 18);
  EXPECT_LT(ink.top, 50 - 9);
  EXPECT_GE(ink.left, 20);
  EXPECT_LE(ink.right, 20 + Width("HE"));
  Draw(100, 50, "gy");
  EXPECT_GT(Scan().bottom, 50);
}

TEST_F(TextTest, ModeOneBlendsGlyphEdgesOverWhatLiesBehind) {
  Draw(20, 60, "Wow");
  const Ink ink = Scan();
  EXPECT_GT(ink.full, 20);
#ifdef VESTRA_WITH_FREETYPE
  EXPECT_GT(ink.partial, 0);  // antialiased edges: between ink and background
#endif
  // Everything outside the text's box keeps the background.
  EXPECT_EQ(graphics().pixel(draw_, 19, 55), kBack);
  EXPECT_EQ(graphics().pixel(draw_, 30, 65), kBack);
}

TEST_F(TextTest, OtherModesPaintTheLineBoxInTheBackColour) {
  const vestra::RGBColor back{128, 16, 128};
  vestra::GMRGBBackColor(&back);
  vestra::GMTextMode(0);
  Draw(20, 60, " ");
  EXPECT_EQ(graphics().pixel(draw_, 21, 55), (sim::Ycc{128, 16, 128}));
  EXPECT_EQ(graphics().pixel(draw_, 21, 20), kBack);
}

TEST_F(TextTest, JapaneseTextRendersRealGlyphsWithFontThirty) {
#ifndef VESTRA_WITH_FREETYPE
  GTEST_SKIP() << "built without FreeType: every text uses the built-in face";
#endif
  vestra::GMTextFont(30, 24);
  ASSERT_FALSE(graphics().usesFallbackFace()) << "fontconfig found no Japanese face";
  EXPECT_GE(Width(kKana), 3 * 24 * 8 / 10);  // full-width glyphs
  Draw(10, 40, "\xE3\x81\x82");
  EXPECT_GT(Scan().changed, 30);
  Draw(110, 40, "\xE3\x81\x86");
  // Two different kana differ in ink: not one placeholder box for both.
  EXPECT_NE(Window(10, 10), Window(110, 10));
}

TEST_F(TextTest, TheBuiltInFaceIsUsedWhenAskedAndHasAFixedAdvance) {
#ifdef VESTRA_WITH_FREETYPE
  EXPECT_LT(Width("iii"), Width("WWW"));
#endif
  graphics().setForceFallbackFont(true);
  EXPECT_TRUE(graphics().usesFallbackFace());
  EXPECT_EQ(Width("iii"), Width("WWW"));
  EXPECT_EQ(Width(kKana), Width("abc"));  // anything it cannot show is a box of the same advance
  Draw(10, 40, "A");
  const Ink ink = Scan();
  EXPECT_GT(ink.full, 10);
  EXPECT_EQ(ink.partial, 0);  // bitmap glyphs, no antialiasing
  EXPECT_EQ(ink.bottom, 39);
#ifdef VESTRA_WITH_FREETYPE
  graphics().setForceFallbackFont(false);
  EXPECT_FALSE(graphics().usesFallbackFace());
#endif
}

TEST_F(TextTest, TextAtOrBeyondThePortEdgesIsClipped) {
  Draw(270, 100, "WWWW");
  Draw(-10, 5, "Abort");
  Draw(100, 230, "gggg");
  EXPECT_GT(Scan().changed, 0);
  SetUp();
  Draw(30000, 100, "Start");  // the pen wraps past 32767; nothing lands in the port
  Draw(-32768, -32768, "Start");
  EXPECT_EQ(Scan().changed, 0);
}

TEST_F(TextTest, BrokenUtf8DrawsReplacementsAndStaysWithinItsLength) {
  const char text[] =
      "A\xE3\x81"
      "BCDEFG";
  EXPECT_EQ(vestra::GMTextWidth(text, 0, 3), Width("A") + Width("\xEF\xBF\xBD"));
  vestra::GMMoveTo(10, 40);
  vestra::GMDrawText(text, 0, 3);
  EXPECT_EQ(graphics().texts().back().text, std::string("A\xE3\x81"));
}

TEST_F(TextTest, FacesAreLoadedOncePerFontAndSize) {
  EXPECT_EQ(&sim::FaceFor(2, 18, false), &sim::FaceFor(2, 18, false));
  EXPECT_NE(&sim::FaceFor(2, 18, false), &sim::FaceFor(2, 24, false));
  EXPECT_TRUE(sim::FaceFor(77, 18, false).builtIn());  // no system face behind an unknown number
}

TEST(Utf8Test, DecodesAndReplacesMalformedSequences) {
  struct Case {
    const char* bytes;
    std::u32string expected;
  };
  const Case cases[] = {
      {"Ab", U"Ab"},
      {"\xC3\xA9", U"\u00E9"},
      {"\xE3\x81\x82", U"\u3042"},
      {"\xF0\x9F\x98\x80", U"\U0001F600"},
      {"\xC0\xAF", U"\uFFFD"},          // overlong
      {"\xE3\x81", U"\uFFFD"},          // cut short at the end
      {"\xE3\x41", U"\uFFFDA"},         // cut short by a new character
      {"\xED\xA0\x80", U"\uFFFD"},      // surrogate
      {"\xF4\x90\x80\x80", U"\uFFFD"},  // beyond U+10FFFF
      {"\x80z", U"\uFFFDz"},            // stray continuation byte
      {"\xFF", U"\uFFFD"},
  };
  for (const Case& c : cases) {
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes);
    EXPECT_EQ(sim::DecodeUtf8(p, std::strlen(c.bytes)), c.expected) << c.bytes;
  }
}

}  // namespace
