// The soft-key bar, text centring and the debug box, as the draw port shows them.
#include "app/screen.h"

#include <string>

#include "gx/text.h"
#include "services/lcd.h"
#include "tests/panels/screen_fixture.h"

namespace {

using vestra_test::AsYcc;
using vestra_test::ScreenTest;

class BarTest : public ScreenTest {
 protected:
  std::int16_t Width(const char* text, std::int16_t font, std::int16_t size) {
    vestra::GMTextFont(font, size);
    return gxStringWidth(text);
  }
};

TEST_F(BarTest, LabelsSitOverTheirKeys) {
  struct Case {
    std::uint32_t region;
    int panel;
  };
  for (const Case c : {Case{1, 0}, Case{1, 3}, Case{1, 5}, Case{8, 0}, Case{8, 3}, Case{8, 2}}) {
    SCOPED_TRACE(testing::Message() << "region " << c.region << " panel " << c.panel);
    Start({.region = c.region});
    const std::int16_t font = c.region == 8 ? 30 : 2;
    const PanelRec& panel = gPanel[c.panel];
    std::vector<sim::TextRecord> expected;
    for (int slot = 0; slot < 3; ++slot) {
      const char* label = panel.label[slot];
      if (label[0] == '\0') continue;
      const int w = Width(label, font, 18);
      const int h = slot == 0 ? 10 : slot == 1 ? (288 - w) >> 1 : 278 - w;
      expected.push_back({font, 18, static_cast<std::int16_t>(h), 212, label, AsYcc(gWhite)});
    }
    graphics().clearRecords();
    Clear(gRed);
    AppDrawBar(&gPanel[c.panel]);
    const auto& texts = graphics().texts();
    ASSERT_EQ(texts.size(), expected.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(texts[i].font, expected[i].font);
      EXPECT_EQ(texts[i].size, 18);
      EXPECT_EQ(texts[i].h, expected[i].h) << texts[i].text;
      EXPECT_EQ(texts[i].v, 212);
      EXPECT_EQ(texts[i].text, expected[i].text);
      EXPECT_EQ(texts[i].colour, expected[i].colour);
    }
    // The bar is black from row 196 down; the content above it is not touched.
    ExpectPixel(0, 196, gBlack, "bar top-left");
    ExpectPixel(287, 215, gBlack, "bar bottom-right");
    ExpectPixel(0, 195, gRed, "content above the bar");
  }
}

TEST_F(BarTest, APanelWithoutLabelsGetsAPlainBar) {
  Start();
  Clear(gRed);
  AppDrawBar(&gPanel[4]);
  EXPECT_TRUE(graphics().texts().empty());
  ExpectPixel(144, 205, gBlack, "bar");
}

TEST_F(BarTest, CentringInARectangle) {
  Start();
  vestra::GMTextFont(2, 18);
  struct Case {
    vestra::Rect rect;
    std::int16_t vOffset;
    const char* text;
  };
  const Case cases[] = {
      {{100, 0, 120, 288}, 0, "Update"},   // baseline at top + 17
      {{100, 0, 120, 288}, 18, "Update"},  // baseline vOffset below the top
      {{0, 0, 30, 288}, 0, "Camera incompatible"},
      {{10, 20, 40, 60}, 0, "a text much wider than its box"},
      {{10, 20, 40, 60}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    graphics().clearRecords();
    gxDrawStringCentered(&c.rect, c.vOffset, c.text);
    const int w = gxStringWidth(c.text);
    const int h = c.rect.left + ((c.rect.right - c.rect.left - 5 - w) >> 1);
    const int v =
        c.vOffset != 0 ? c.rect.top + c.vOffset : c.rect.top + ((c.rect.bottom - c.rect.top - 18) >> 1) + 16;
    if (c.text[0] == '\0') {
      EXPECT_EQ(w, 0);
      continue;
    }
    ASSERT_EQ(graphics().texts().size(), 1u);
    EXPECT_EQ(graphics().texts()[0].h, h);
    EXPECT_EQ(graphics().texts()[0].v, v);
  }
}

TEST_F(BarTest, DebugBoxIsARedFramedBoxTwentyWiderThanItsText) {
  Start();
  AppSwapPanels(gCurPanel, 1);
  AppDrawDebugMessage(1);
  const int w = Width("INTERNAL USE ONLY", 2, 18) + 20;
  const int left = (288 - w) >> 1;
  ExpectPixel(left, 10, gWhite, "frame top-left");
  ExpectPixel(left + w - 1, 33, gWhite, "frame bottom-right");
  ExpectPixel(left + 1, 11, gRed, "box inside");
  ExpectPixel(left + w - 2, 32, gRed, "box inside");
  EXPECT_NE(Pixel(left, 34), std::optional(AsYcc(gRed)));
  EXPECT_NE(Pixel(left + w, 20), std::optional(AsYcc(gWhite)));
  const auto& texts = graphics().texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back().text, "INTERNAL USE ONLY");
  EXPECT_EQ(texts.back().v, 28);  // 18 below the box's top
  EXPECT_EQ(texts.back().font, 2);
  EXPECT_EQ(graphics().frameCount(), 1u);

  // Without the box the panel is redrawn whole and shown again.
  AppDrawDebugMessage(0);
  EXPECT_NE(Pixel(left + 1, 11), std::optional(AsYcc(gRed)));
  EXPECT_EQ(graphics().frameCount(), 2u);
}

TEST_F(BarTest, UpdateLCDAlternatesBuffersAndPlacesThePicture) {
  Start();
  Clear(gRed);
  UpdateLCD();
  EXPECT_EQ(gLCDPort, gLCDPort2);
  EXPECT_EQ(graphics().shownPort(), gLCDPort2);
  UpdateLCD();
  EXPECT_EQ(gLCDPort, gLCDPort1);
  EXPECT_EQ(graphics().shownPort(), gLCDPort1);
  // The picture lands at (36, 10); the border keeps what the port held.
  const auto inside = graphics().pixel(gLCDPort1, 36, 10);
  const auto outside = graphics().pixel(gLCDPort1, 35, 10);
  ASSERT_TRUE(inside && outside);
  EXPECT_EQ(inside->y, gRed.green);
  EXPECT_NE(outside->y, gRed.green);
}

}  // namespace
