// The soft-key bar and the debug box, as the draw port shows them.
#include "app/screen.h"

#include <string>

#include "app/strings.h"
#include "tests/panels/screen_fixture.h"

namespace {

using vestra_test::AsYcc;
using vestra_test::ScreenTest;

using BarTest = ScreenTest;

TEST_F(BarTest, EachPanelsLabelsSitOverTheirKeys) {
  // The string rows of each panel's left, centre and right labels; kStrNone: no label.
  const UIString slots[9][3] = {
      {kStrStart, kStrNone, kStrAbort},  {kStrYes, kStrNone, kStrNo},     {kStrAgree, kStrNone, kStrDecline},
      {kStrNone, kStrUpdate, kStrAbort}, {kStrNone, kStrNone, kStrNone},  {kStrNone, kStrNone, kStrShutdown},
      {kStrNone, kStrNone, kStrAbort},   {kStrNone, kStrNone, kStrAbort}, {kStrNone, kStrNone, kStrAbort},
  };
  for (const std::uint32_t region : {1u, 8u}) {
    Start({.region = region});
    const std::int16_t font = region == 8 ? 30 : 2;
    for (int panel = 0; panel < 9; ++panel) {
      SCOPED_TRACE(testing::Message() << "region " << region << " panel " << panel);
      std::vector<Text> expected;
      for (int slot = 0; slot < 3; ++slot) {
        if (slots[panel][slot] == kStrNone) continue;
        const char* label = GetRgnString(static_cast<std::int16_t>(region), slots[panel][slot], nullptr);
        const int w = Width(font, 18, label);
        const int h = slot == 0 ? 10 : slot == 1 ? (288 - w) >> 1 : 278 - w;
        expected.emplace_back(font, 18, h, 212, label, AsYcc(gWhite));
      }
      graphics().clearRecords();
      Clear(gRed);
      AppDrawBar(&gPanel[panel]);
      EXPECT_EQ(Drawn(), expected);
      // The bar is black from row 196 down; the content above it is not touched.
      ExpectPixel(0, 196, gBlack, "bar top-left");
      ExpectPixel(287, 215, gBlack, "bar bottom-right");
      ExpectPixel(0, 195, gRed, "content above the bar");
    }
  }
}

TEST_F(BarTest, DebugBoxIsARedFramedBoxTwentyWiderThanItsText) {
  Start();
  AppSwapPanels(gCurPanel, kVersionPanel);
  AppDrawDebugMessage(1);
  const int w = Width(2, 18, "INTERNAL USE ONLY") + 20;
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

}  // namespace
