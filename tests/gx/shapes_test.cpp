// The toolkit's shapes, checked on the pixels of the simulated draw port.
#include "gx/shapes.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string_view>
#include <tuple>

#include "tests/panels/screen_fixture.h"

namespace {

using vestra_test::Rgb;

// A pixel and its colour: 'a'/'b' fills, 'A'/'B' frames, '.' untouched; and what it is.
using Probe = std::tuple<int, int, char, const char*>;

class GxShapes : public vestra_test::ScreenTest {
 protected:
  void SetUp() override {
    Start();
    Clear(background);
  }
  void Check(std::initializer_list<Probe> probes) {
    const GXColor* colours[] = {&fillA, &fillB, &frameA, &frameB, &background};
    for (const auto& [h, v, expected, what] : probes) {
      ExpectPixel(h, v, *colours[std::string_view("abAB.").find(expected)], what);
    }
  }
  const GXColor background = Rgb(100, 100, 100);
  const GXColor fillA = Rgb(200, 0, 0);
  const GXColor fillB = Rgb(0, 200, 0);
  const GXColor frameA = Rgb(0, 0, 200);
  const GXColor frameB = Rgb(200, 200, 0);
};

TEST_F(GxShapes, CheckerboardOnTheContentAreaOverhangsAndBevelsEachCell) {
  // 5 x 4 cells of 60 from h -6 and v -22: column c spans -6 + 60c .. +59, row r spans -22 + 60r .. +59.
  const vestra::Rect content{0, 0, 196, 288};
  gxDrawCheckeredtRect(&content, 60, &fillA, &fillB, &frameA, &frameB);
  Check({
      {20, 10, 'a', "interior of the top-left cell"},
      {260, 190, 'b', "interior of cell (4, 3), below the content area"},
      {51, 10, 'A', "right bevel of an even cell"},
      {20, 40, 'A', "top bevel of an odd cell"},
      {80, 40, 'B', "top bevel of an even cell"},
      {113, 38, 'A', "top-right corner of an even cell takes the colour drawn last"},
      {54, 38, 'B', "top-left corner of an even cell"},
      {58, 42, 'B', "innermost ring of an even cell"},
      {59, 43, 'a', "first interior pixel of an even cell"},
      {287, 70, 'b', "overhanging last column, drawn to the port's edge"},
      {260, 215, 'B', "bottom bevel of the overhanging last row, drawn to the port's edge"},
  });
}

TEST_F(GxShapes, DepthFrameRingsAndInterior) {
  // Depth, raised, and the rings drawn: at least one.
  const std::tuple<std::int16_t, std::uint8_t, int> cases[] = {
      {5, 1, 5}, {5, 0, 5}, {1, 1, 1}, {0, 1, 1}, {-3, 0, 1}};
  for (const auto& [depth, raised, rings] : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << depth << " raised " << int{raised});
    Clear(background);
    const vestra::Rect cell{40, 100, 100, 160};  // 60 x 60
    gxDrawDepthFrame(&cell, depth, raised, &frameA, &frameB);
    const char topLeft = raised ? 'A' : 'B', bottomRight = raised ? 'B' : 'A';
    for (int i = 0; i < rings; ++i) {
      Check({{130, 40 + i, topLeft, "top edge"},
             {100 + i, 70, topLeft, "left edge"},
             {130, 99 - i, bottomRight, "bottom edge"},
             {159 - i, 70, bottomRight, "right edge"},
             {159 - i, 40 + i, bottomRight, "top-right corner"},
             {100 + i, 99 - i, bottomRight, "bottom-left corner"},
             {100 + i, 40 + i, topLeft, "top-left corner"}});
    }
    Check({{100 + rings, 40 + rings, '.', "first interior pixel"},
           {159 - rings, 99 - rings, '.', "last interior pixel"},
           {160, 70, '.', "right of the rectangle"},
           {130, 100, '.', "below the rectangle"}});
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

}  // namespace
