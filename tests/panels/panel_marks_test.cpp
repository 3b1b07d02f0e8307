// The corner marks, icon and backgrounds of the screens, checked on the draw port's pixels.
#include <gtest/gtest.h>

#include <tuple>

#include "panels/panels.h"
#include "tests/panels/screen_fixture.h"

namespace {

class PanelMarks : public vestra_test::ScreenTest {};

TEST_F(PanelMarks, SmallLogoTopLeftIconTopRightAndCellsInThePanelHue) {
  // Panel, whether it shows the icon, and which channels the background's levels go into.
  const std::tuple<int, bool, std::uint16_t, std::uint16_t, std::uint16_t> cases[] = {
      {1, true, 0, 0, 1},  {2, true, 1, 1, 1},  {3, true, 1, 0, 0}, {5, true, 0, 1, 0},
      {6, false, 0, 1, 0}, {7, false, 1, 0, 0}, {8, false, 1, 0, 0}};
  for (bool iconPresent : {true, false}) {
    Start({.logoIcon = iconPresent});
    ASSERT_EQ(gLogoIcon != nullptr, iconPresent);
    for (const auto& [panel, icon, r, g, b] : cases) {
      SCOPED_TRACE(testing::Message() << "panel " << panel << " icon resource " << iconPresent);
      const auto level = [&](int l) { return vestra_test::Rgb(r * l, g * l, b * l); };
      graphics().clearRecords();
      DrawPanel(panel);
      // The 45-pixel mark at (10, 10): 15-pixel squares.
      ExpectPixel(40, 10, gYellow, "yellow square's first pixel");
      ExpectPixel(10, 25, gBlue, "blue square");
      ExpectPixel(25, 54, gRed, "red square's last row");
      ExpectPixel(17, 17, level(30), "empty cell of the mark shows the first fill");
      ExpectPixel(25, 55, level(60), "below the mark, in the second row of cells");
      // Cell (1, 3): h 54..113, v 158..217, even; cell (2, 3) odd. Below the lowest text line.
      ExpectPixel(80, 190, level(30), "first fill");
      ExpectPixel(140, 190, level(60), "second fill");
      ExpectPixel(56, 190, level(20), "sunken cell's dark left bevel");
      ExpectPixel(116, 190, level(70), "raised cell's light left bevel");
      if (!icon || !iconPresent) {
        EXPECT_TRUE(graphics().iconPlots().empty());
        ExpectPixel(277, 10, level(30), "the top-right corner keeps its background");
        continue;
      }
      ASSERT_EQ(graphics().iconPlots().size(), 1u);
      const vestra::Rect bounds = (*gLogoIcon)->iconPMap.bounds, plotted = graphics().iconPlots()[0].rect;
      EXPECT_EQ((std::tuple{plotted.left, plotted.top, plotted.right, plotted.bottom}),
                (std::tuple{278 - (bounds.right - bounds.left), 10, 278, 10 + bounds.bottom - bounds.top}));
      // The icon's corner pixel sits exactly there; one step outside is background.
      EXPECT_NE(Pixel(277, 10), std::optional(vestra_test::AsYcc(level(30))));
      // Its three colours, each converted from the resource's RGB (Cb, Y, Cr): the navy field, the white V
      // and the orange bar.
      const int left = plotted.left;
      EXPECT_EQ(Pixel(left + 1, 11), std::optional(sim::Ycc{164, 45, 115})) << "navy";
      EXPECT_EQ(Pixel(left + 6, 13), std::optional(sim::Ycc{128, 255, 128})) << "white";
      EXPECT_EQ(Pixel(left + 20, 33), std::optional(sim::Ycc{56, 157, 187})) << "orange";
      ExpectPixel(278, 10, level(30), "right of the icon");
      ExpectPixel(277, 9, level(30), "above the icon");
    }
  }
}

}  // namespace
