#include "gx/color.h"

#include <gtest/gtest.h>

namespace {

struct NamedCase {
  const char* name;
  const GXColor* colour;
  std::uint16_t cb, y, cr;
};

TEST(ColorTest, NamedColoursMatchTheirTable) {
  gxFillNamedColors();
  const NamedCase cases[] = {
      {"white", &gWhite, 128, 255, 128},  {"black", &gBlack, 128, 16, 128},
      {"red", &gRed, 84, 76, 255},        {"green", &gGreen, 43, 149, 21},
      {"blue", &gBlue, 228, 22, 111},     {"magenta", &gMagenta, 212, 105, 234},
      {"yellow", &gYellow, 16, 225, 148}, {"cyan", &gCyan, 171, 178, 16},
      {"orange", &gOrange, 54, 185, 177}, {"midblue", &gMidBlue, 158, 16, 123},
      {"dkblue", &gDkBlue, 138, 16, 126}, {"gray10", &gGray10, 128, 127, 128},
      {"gray8", &gGray8, 128, 80, 128},   {"gray4", &gGray4, 128, 40, 128},
      {"gray2", &gGray2, 128, 20, 128},   {"gray1", &gGray1, 128, 16, 128},
      {"gray0", &gGray0, 128, 16, 128},
  };
  for (const NamedCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.colour->red, c.cb);
    EXPECT_EQ(c.colour->green, c.y);
    EXPECT_EQ(c.colour->blue, c.cr);
  }
}

TEST(ColorTest, BackConversionKeepsFloorAndClamps) {
  struct Case {
    std::uint16_t cb, y, cr, r, g, b;
  };
  const Case cases[] = {
      {128, 16, 128, 16, 16, 16},  // the luma floor is not undone
      {84, 76, 255, 254, 0, 0},    // red truncates to 254, blue clamps at 0
      {128, 255, 128, 255, 255, 255},
  };
  for (const Case& c : cases) {
    GXColor out;
    gxMakeRGB(c.cb, c.y, c.cr, &out);
    EXPECT_EQ(out.red, c.r);
    EXPECT_EQ(out.green, c.g);
    EXPECT_EQ(out.blue, c.b);
  }
}

TEST(ColorTest, ConvertsInPlace) {
  GXColor colour;
  gxSetRGB(255, 0, 0, &colour);
  gxRGB2YCC(&colour, &colour);
  EXPECT_EQ(colour.red, 84);
  EXPECT_EQ(colour.green, 76);
  EXPECT_EQ(colour.blue, 255);
  gxYCC2RGB(&colour, &colour);
  EXPECT_EQ(colour.red, 254);
}

}  // namespace
