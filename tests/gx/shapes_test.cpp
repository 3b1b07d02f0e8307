// The toolkit's shapes, checked on the pixels of the simulated draw port.
#include "gx/shapes.h"

#include <gtest/gtest.h>

#include "tests/panels/screen_fixture.h"

namespace {

using vestra_test::Rgb;

class GxShapes : public vestra_test::ScreenTest {
 protected:
  void SetUp() override {
    Start();
    Clear(background);
  }
  const GXColor background = Rgb(100, 100, 100);
  const GXColor fillA = Rgb(200, 0, 0);
  const GXColor fillB = Rgb(0, 200, 0);
  const GXColor frameA = Rgb(0, 0, 200);
  const GXColor frameB = Rgb(200, 200, 0);
};

struct Probe {
  int h, v;
  char expected;  // 'a'/'b' fills, 'A'/'B' frames, '.' untouched
  const char* what;
};

TEST_F(GxShapes, CheckerboardOnTheContentAreaOverhangsAndBevelsEachCell) {
  // 5 x 4 cells of 60 from h -6 and v -22: column c spans -6 + 60c .. +59, row r spans -22 + 60r .. +59.
  const vestra::Rect content{0, 0, 196, 288};
  gxDrawCheckeredtRect(&content, 60, &fillA, &fillB, &frameA, &frameB);
  const Probe probes[] = {
      {20, 10, 'a', "interior of the top-left cell"},
      {80, 10, 'b', "interior of cell (1, 0)"},
      {260, 190, 'b', "interior of cell (4, 3), below the content area"},
      {51, 10, 'A', "right bevel of an even cell"},
      {20, 40, 'A', "top bevel of an odd cell"},
      {20, 95, 'B', "bottom bevel of an odd cell"},
      {80, 40, 'B', "top bevel of an even cell"},
      {113, 38, 'A', "top-right corner of an even cell takes the colour drawn last"},
      {54, 38, 'B', "top-left corner of an even cell"},
      {58, 42, 'B', "innermost ring of an even cell"},
      {59, 43, 'a', "first interior pixel of an even cell"},
      {287, 70, 'b', "overhanging last column, drawn to the port's edge"},
      {260, 215, 'B', "bottom bevel of the overhanging last row, drawn to the port's edge"},
  };
  for (const Probe& p : probes) {
    const GXColor& colour = p.expected == 'a'   ? fillA
                            : p.expected == 'b' ? fillB
                            : p.expected == 'A' ? frameA
                                                : frameB;
    ExpectPixel(p.h, p.v, colour, p.what);
  }
}

TEST_F(GxShapes, CheckerboardWithoutFramesPaintsFillsOnly) {
  const vestra::Rect content{0, 0, 196, 288};
  for (const GXColor* missing : {static_cast<const GXColor*>(nullptr), &frameB}) {
    Clear(background);
    gxDrawCheckeredtRect(&content, 60, &fillA, &fillB, missing == nullptr ? &frameA : nullptr, missing);
    ExpectPixel(51, 10, fillA, "where the bevel would be");
    ExpectPixel(54, 38, fillA, "corner of an even cell");
    ExpectPixel(56, 10, fillB, "left edge of an odd cell");
  }
}

TEST_F(GxShapes, CheckerboardOfExactMultipleGetsOneMoreColumnCentred) {
  // w 240, h 60: 5 x 2 cells, both margins -30, so cells start at h -10 and v 70.
  const vestra::Rect rect{100, 20, 160, 260};
  gxDrawCheckeredtRect(&rect, 60, &fillA, &fillB, nullptr, nullptr);
  ExpectPixel(49, 75, fillA, "last column of the first cell");
  ExpectPixel(50, 75, fillB, "first column of the second cell");
  ExpectPixel(49, 129, fillA, "last row of the first cell");
  ExpectPixel(49, 130, fillB, "first row of the cell below");
  ExpectPixel(287, 189, fillB, "last cell, to the port's edge");
  ExpectPixel(49, 69, background, "above the grid");
  ExpectPixel(49, 190, background, "below the grid");
}

TEST_F(GxShapes, CheckerboardWithoutCellSizePaintsNothing) {
  const vestra::Rect content{0, 0, 196, 288};
  for (std::int16_t size : {0, -60}) {
    gxDrawCheckeredtRect(&content, size, &fillA, &fillB, &frameA, &frameB);
    ExpectPixel(0, 0, background, "top-left");
    ExpectPixel(150, 100, background, "centre");
  }
}

TEST_F(GxShapes, DepthFrameRingsAndInterior) {
  struct Case {
    std::int16_t depth;
    std::uint8_t raised;
    int rings;
  };
  const Case cases[] = {{5, 1, 5}, {5, 0, 5}, {1, 1, 1}, {0, 1, 1}, {-3, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.depth << " raised " << int{c.raised});
    Clear(background);
    const vestra::Rect cell{40, 100, 100, 160};  // 60 x 60
    gxDrawDepthFrame(&cell, c.depth, c.raised, &frameA, &frameB);
    const GXColor& topLeft = c.raised ? frameA : frameB;
    const GXColor& bottomRight = c.raised ? frameB : frameA;
    for (int i = 0; i < c.rings; ++i) {
      ExpectPixel(130, 40 + i, topLeft, "top edge");
      ExpectPixel(100 + i, 70, topLeft, "left edge");
      ExpectPixel(130, 99 - i, bottomRight, "bottom edge");
      ExpectPixel(159 - i, 70, bottomRight, "right edge");
      ExpectPixel(159 - i, 40 + i, bottomRight, "top-right corner");
      ExpectPixel(100 + i, 99 - i, bottomRight, "bottom-left corner");
      ExpectPixel(100 + i, 40 + i, topLeft, "top-left corner");
    }
    const int r = c.rings;
    ExpectPixel(100 + r, 40 + r, background, "first interior pixel");
    ExpectPixel(159 - r, 99 - r, background, "last interior pixel");
    ExpectPixel(160, 70, background, "right of the rectangle");
    ExpectPixel(130, 100, background, "below the rectangle");
  }
}

TEST_F(GxShapes, GradientRowsRampFromBlack) {
  const int reds[] = {0, 12, 25, 38, 51, 64, 76, 89, 102, 115};
  const vestra::Rect rect{50, 20, 60, 80};  // 10 high
  for (std::uint8_t darkFirst : {1, 0}) {
    SCOPED_TRACE(testing::Message() << "darkFirst " << int{darkFirst});
    Clear(background);
    gxDrawGradientRect(&rect, 128, 0, 0, 0, darkFirst);
    for (int i = 0; i < 10; ++i) {
      const int row = darkFirst ? 50 + i : 59 - i;
      const GXColor expected = Rgb(static_cast<std::uint16_t>(reds[i]), 0, 0);
      ExpectPixel(20, row, expected, "left end");
      ExpectPixel(80, row, expected, "the column at right is covered too");
      ExpectPixel(81, row, background, "past the line's end");
    }
    ExpectPixel(40, 49, background, "above");
    ExpectPixel(40, 60, background, "below");
  }
}

TEST_F(GxShapes, GradientAcrossWidthDrawsColumns) {
  const vestra::Rect rect{50, 20, 60, 30};  // 10 wide
  gxDrawGradientRect(&rect, 0, 0, 200, 1, 1);
  ExpectPixel(20, 55, Rgb(0, 0, 0), "first column is black");
  ExpectPixel(25, 55, Rgb(0, 0, 100), "half way");
  ExpectPixel(29, 60, Rgb(0, 0, 180), "last column reaches 9/10 and the row at bottom");
  ExpectPixel(30, 55, background, "right of the rectangle");

  // Nothing for a rectangle of no height or negative width.
  const vestra::Rect flat{100, 20, 100, 80};
  const vestra::Rect inverted{100, 80, 110, 20};
  gxDrawGradientRect(&flat, 255, 255, 255, 0, 1);
  gxDrawGradientRect(&inverted, 255, 255, 255, 1, 1);
  ExpectPixel(20, 100, background, "start of the flat rectangle");
  ExpectPixel(50, 105, background, "inside the inverted rectangle");
}

TEST_F(GxShapes, LogoSquaresOnTheGrid) {
  struct Case {
    int size, cell;
  };
  for (const Case c : {Case{75, 25}, Case{45, 15}, Case{80, 26}}) {
    SCOPED_TRACE(testing::Message() << "box " << c.size);
    Clear(background);
    const int left = 30, top = 40;
    const vestra::Rect box{static_cast<std::int16_t>(top), static_cast<std::int16_t>(left),
                           static_cast<std::int16_t>(top + c.size), static_cast<std::int16_t>(left + c.size)};
    gxDrawVestraLogo(&box);
    const int s = c.cell;
    const auto at = [&](int column, int row, int dh, int dv) {
      return std::pair{left + column * s + dh, top + row * s + dv};
    };
    struct Square {
      int column, row;
      const GXColor* colour;
    };
    for (const Square q : {Square{2, 0, &gYellow}, Square{0, 1, &gBlue}, Square{1, 2, &gRed}}) {
      auto [h0, v0] = at(q.column, q.row, 0, 0);
      auto [h1, v1] = at(q.column, q.row, s - 1, s - 1);
      ExpectPixel(h0, v0, *q.colour, "square's first pixel");
      ExpectPixel(h1, v1, *q.colour, "square's last pixel");
    }
    for (const auto& [column, row] : {std::pair{0, 0}, {1, 0}, {1, 1}, {2, 1}, {0, 2}, {2, 2}}) {
      auto [h, v] = at(column, row, s / 2, s / 2);
      ExpectPixel(h, v, background, "empty cell");
    }
    // The remainder that the division leaves stays untouched.
    ExpectPixel(left + 3 * s, top + s / 2, background, "remainder column");
    ExpectPixel(left + s + s / 2, top + 3 * s, background, "remainder row");
  }
}

TEST_F(GxShapes, LogoTooSmallPaintsNothing) {
  const vestra::Rect narrow{40, 30, 100, 32};
  const vestra::Rect flat{40, 30, 42, 90};
  gxDrawVestraLogo(&narrow);
  gxDrawVestraLogo(&flat);
  for (int h = 28; h < 92; ++h) {
    for (int v = 38; v < 102; ++v) {
      if (Pixel(h, v) != std::optional(vestra_test::AsYcc(background))) {
        ADD_FAILURE() << "painted at (" << h << ", " << v << ")";
        return;
      }
    }
  }
}

}  // namespace
