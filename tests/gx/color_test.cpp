#include "gx/color.h"

#include <gtest/gtest.h>

#include <array>

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

// Converted in place, as a colour record is reused: every channel is read before any is written.
TEST(ColorTest, BackConversionKeepsFloorAndClamps) {
  const std::uint16_t cases[][6] = {
      {128, 16, 128, 16, 16, 16},  // the luma floor is not undone
      {84, 76, 255, 254, 0, 0},    // red truncates to 254, blue clamps at 0
      {128, 255, 128, 255, 255, 255},
  };
  for (const auto& c : cases) {
    GXColor colour{c[0], c[1], c[2]};
    gxYCC2RGB(&colour, &colour);
    EXPECT_EQ((std::array{colour.red, colour.green, colour.blue}), (std::array{c[3], c[4], c[5]})) << c[1];
  }
  GXColor red{255, 0, 0};
  gxRGB2YCC(&red, &red);
  EXPECT_EQ((std::array{red.red, red.green, red.blue}), (std::array<std::uint16_t, 3>{84, 76, 255}));
}

}  // namespace
