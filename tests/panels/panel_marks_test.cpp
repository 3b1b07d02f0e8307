// The corner marks and backgrounds of the screens, checked on the draw port's pixels.
#include <gtest/gtest.h>

#include "panels/panels.h"
#include "tests/panels/screen_fixture.h"

namespace {

using vestra_test::Rgb;

class PanelMarks : public vestra_test::ScreenTest {};

struct MarkCase {
  int panel;
  bool icon;
  int hueR, hueG, hueB;  // which channels the background's levels go into
};

constexpr MarkCase kMarkCases[] = {
    {1, true, 0, 0, 1},  {2, true, 1, 1, 1},  {3, true, 1, 0, 0},  {5, true, 0, 1, 0},
    {6, false, 0, 1, 0}, {7, false, 1, 0, 0}, {8, false, 1, 0, 0},
};

GXColor Level(const MarkCase& c, int level) {
  return Rgb(static_cast<std::uint16_t>(c.hueR * level), static_cast<std::uint16_t>(c.hueG * level),
             static_cast<std::uint16_t>(c.hueB * level));
}

TEST_F(PanelMarks, SmallLogoTopLeftIconTopRightOnTheirPanels) {
  for (bool iconPresent : {true, false}) {
    Start({.logoIcon = iconPresent});
    ASSERT_EQ(gLogoIcon != nullptr, iconPresent);
    for (const MarkCase& c : kMarkCases) {
      SCOPED_TRACE(testing::Message() << "panel " << c.panel << " icon resource " << iconPresent);
      graphics().clearRecords();
      DrawPanel(c.panel);
      // The 45-pixel mark at (10, 10): 15-pixel squares.
      ExpectPixel(40, 10, gYellow, "yellow square's first pixel");
      ExpectPixel(54, 24, gYellow, "yellow square's last pixel");
      ExpectPixel(10, 25, gBlue, "blue square");
      ExpectPixel(25, 54, gRed, "red square's last row");
      ExpectPixel(17, 17, Level(c, 30), "empty cell of the mark shows the first fill");
      ExpectPixel(25, 55, Level(c, 60), "below the mark, in the second row of cells");

      const GXColor fill = Level(c, 30);  // the cell under the top-right corner
      if (c.icon && iconPresent) {
        ASSERT_EQ(graphics().iconPlots().size(), 1u);
        const vestra::Rect bounds = (*gLogoIcon)->iconPMap.bounds;
        const int width = bounds.right - bounds.left;
        const int height = bounds.bottom - bounds.top;
        const vestra::Rect plotted = graphics().iconPlots()[0].rect;
        EXPECT_EQ(plotted.right, 278);
        EXPECT_EQ(plotted.top, 10);
        EXPECT_EQ(plotted.left, 278 - width);
        EXPECT_EQ(plotted.bottom, 10 + height);
        // The icon's corner pixel sits exactly there; one step outside is background.
        const auto corner = Pixel(277, 10);
        EXPECT_NE(corner, std::optional(vestra_test::AsYcc(fill)));
        ExpectPixel(278, 10, fill, "right of the icon");
        ExpectPixel(277, 9, fill, "above the icon");
      } else {
        EXPECT_TRUE(graphics().iconPlots().empty());
        ExpectPixel(277, 10, fill, "the top-right corner keeps its background");
      }
    }
  }
}

TEST_F(PanelMarks, BackgroundCellsAndBevelsInThePanelHue) {
  Start();
  for (const MarkCase& c : kMarkCases) {
    SCOPED_TRACE(testing::Message() << "panel " << c.panel);
    DrawPanel(c.panel);
    // Cell (1, 3): h 54..113, v 158..217, even; cell (2, 3) odd. Below the lowest text line.
    ExpectPixel(80, 190, Level(c, 30), "first fill");
    ExpectPixel(140, 190, Level(c, 60), "second fill");
    ExpectPixel(56, 190, Level(c, 20), "sunken cell's dark left bevel");
    ExpectPixel(116, 190, Level(c, 70), "raised cell's light left bevel");
  }
}

TEST_F(PanelMarks, SplashHasTheLargeLogoAndNoIcon) {
  Start();
  DrawPanel(0);
  EXPECT_TRUE(graphics().iconPlots().empty());
  // The 75-pixel mark at (65, 50): 25-pixel squares.
  ExpectPixel(115, 50, gYellow, "yellow square's first pixel");
  ExpectPixel(139, 74, gYellow, "yellow square's last pixel");
  ExpectPixel(65, 75, gBlue, "blue square's first pixel");
  ExpectPixel(89, 99, gBlue, "blue square's last pixel");
  ExpectPixel(90, 124, gRed, "red square's last row");
  ExpectPixel(3, 15, Rgb(0, 30, 0), "no small mark in the corner");
}

}  // namespace
