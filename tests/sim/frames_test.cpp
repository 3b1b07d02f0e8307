// LCD frames as pictures: the colour of each pixel.
#include "sim/frames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

sim::Rgb PixelOf(const sim::RgbImage& image, int x, int y) {
  const std::size_t i = (static_cast<std::size_t>(y) * image.width + x) * 3;
  return {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]};
}

TEST(FramesTest, LumaChromaBecomesRgbByTheJfifInverse) {
  struct Case {
    std::uint8_t y, cb, cr;
    sim::Rgb rgb;
  };
  const Case cases[] = {
      {16, 128, 128, {16, 16, 16}},   {255, 128, 128, {255, 255, 255}}, {76, 84, 255, {254, 0, 0}},
      {225, 16, 148, {253, 249, 27}}, {255, 255, 255, {255, 121, 255}}, {0, 0, 0, {0, 135, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(sim::YccToRgb(c.y, c.cb, c.cr), c.rgb) << int{c.y};
}

TEST(FramesTest, EachPixelKeepsItsOwnLumaAndATooSmallFrameGivesNoPicture) {
  std::vector<std::uint32_t> words(sim::kLcdWidth / 2 * sim::kLcdHeight, 0x10801080);
  words[0] = sim::PackLcdPair(255, 128, 16, 128);  // white, then black, sharing neutral chroma
  sim::LcdFrame frame;
  frame.words = words;
  const sim::RgbImage image = sim::FrameToRgb(frame);
  ASSERT_EQ(image.width, 360);
  ASSERT_EQ(image.height, 287);
  EXPECT_EQ(PixelOf(image, 0, 0), (sim::Rgb{255, 255, 255}));
  EXPECT_EQ(PixelOf(image, 1, 0), (sim::Rgb{16, 16, 16}));
  EXPECT_EQ(PixelOf(image, 359, 286), (sim::Rgb{16, 16, 16}));
  frame.words = frame.words.first(100);
  EXPECT_EQ(sim::FrameToRgb(frame).rgb.size(), 0u);
}

}  // namespace
