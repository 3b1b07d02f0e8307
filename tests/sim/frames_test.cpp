// LCD frames as pictures: colour conversion, contact sheets and PNG files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/frames.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint32_t> Filled(std::uint32_t word) {
  return std::vector<std::uint32_t>(sim::kLcdWidth / 2 * sim::kLcdHeight, word);
}

sim::LcdFrame View(const std::vector<std::uint32_t>& words) {
  sim::LcdFrame frame;
  frame.words = words;
  return frame;
}

sim::Rgb PixelOf(const sim::RgbImage& image, int x, int y) {
  const std::size_t i = (static_cast<std::size_t>(y) * image.width + x) * 3;
  return {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]};
}

TEST(FramesTest, LumaChromaBecomesRgbByTheJfifInverse) {
  struct Case {
    const char* what;
    std::uint8_t y, cb, cr;
    sim::Rgb rgb;
  };
  const Case cases[] = {
      {"black as the module makes it", 16, 128, 128, {16, 16, 16}},
      {"white", 255, 128, 128, {255, 255, 255}},
      {"mid grey", 127, 128, 128, {127, 127, 127}},
      {"red", 76, 84, 255, {254, 0, 0}},
      {"yellow", 225, 16, 148, {253, 249, 27}},
      {"out of gamut clamps", 255, 255, 255, {255, 121, 255}},
      {"and clamps low", 0, 0, 0, {0, 135, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(sim::YccToRgb(c.y, c.cb, c.cr), c.rgb) << c.what;
}

TEST(FramesTest, AClearedLcdIsBlackAndEachPixelKeepsItsOwnLuma) {
  std::vector<std::uint32_t> words = Filled(0x10801080);
  words[0] = sim::PackLcdPair(255, 128, 16, 128);  // white, then black, sharing neutral chroma
  const sim::RgbImage image = sim::FrameToRgb(View(words));
  ASSERT_EQ(image.width, 360);
  ASSERT_EQ(image.height, 287);
  EXPECT_EQ(PixelOf(image, 0, 0), (sim::Rgb{255, 255, 255}));
  EXPECT_EQ(PixelOf(image, 1, 0), (sim::Rgb{16, 16, 16}));
  EXPECT_EQ(PixelOf(image, 359, 286), (sim::Rgb{16, 16, 16}));
}

TEST(FramesTest, AFrameViewTooSmallForItsSizeGivesNoPicture) {
  const std::vector<std::uint32_t> words(100, 0x10801080);
  EXPECT_EQ(sim::FrameToRgb(View(words)).rgb.size(), 0u);
}

TEST(FramesTest, AContactSheetLaysFramesInRowsOfFive) {
  std::vector<sim::RgbImage> frames;
  for (int i = 0; i < 7; ++i) {
    frames.push_back(sim::FrameToRgb(View(Filled(sim::PackLcdPair(
        static_cast<std::uint8_t>(20 + 30 * i), 128, static_cast<std::uint8_t>(20 + 30 * i), 128)))));
  }
  const sim::RgbImage sheet = sim::ContactSheet(frames, 5, 8);
  EXPECT_EQ(sheet.width, 5 * 360 + 6 * 8);
  EXPECT_EQ(sheet.height, 2 * 287 + 3 * 8);
  for (int i = 0; i < 7; ++i) {
    const int x = 8 + (i % 5) * (360 + 8);
    const int y = 8 + (i / 5) * (287 + 8);
    const auto level = static_cast<std::uint8_t>(20 + 30 * i);
    EXPECT_EQ(PixelOf(sheet, x, y), (sim::Rgb{level, level, level})) << i;
    EXPECT_EQ(PixelOf(sheet, x + 359, y + 286), (sim::Rgb{level, level, level})) << i;
  }
  EXPECT_NE(PixelOf(sheet, 3, 3), PixelOf(sheet, 8, 8));                  // the gap is not picture
  EXPECT_EQ(PixelOf(sheet, 8 + 3 * 368, 8 + 295), PixelOf(sheet, 3, 3));  // nothing where no frame is
  EXPECT_EQ(sim::ContactSheet({}).rgb.size(), 0u);
}

class PngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vestra_png_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) |
         b[at + 3];
}

TEST_F(PngTest, AFrameIsWrittenAsA360By287Png) {
  const std::vector<std::uint32_t> words = Filled(0x10801080);
  const fs::path file = dir_ / "frame.png";
  std::string error;
  const bool written = sim::WriteFramePng(View(words), file, &error);
  if (!sim::PngAvailable()) {
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    return;
  }
  ASSERT_TRUE(written) << error;
  const std::vector<std::uint8_t> bytes = ReadAll(file);
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 4), "PNG");
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
  EXPECT_EQ(Be32(bytes, 16), 360u);
  EXPECT_EQ(Be32(bytes, 20), 287u);
}

TEST_F(PngTest, WritingFailsCleanlyWhereItCannot) {
  const std::vector<std::uint32_t> words = Filled(0x10801080);
  std::string error;
  EXPECT_FALSE(sim::WriteFramePng(View(words), dir_ / "no" / "such" / "dir.png", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(sim::WriteContactSheetPng({}, dir_ / "empty.png", &error));
  EXPECT_FALSE(fs::exists(dir_ / "empty.png"));
}

TEST_F(PngTest, AContactSheetIsWrittenAtItsSize) {
  if (!sim::PngAvailable()) GTEST_SKIP() << "no PNG output in this build";
  const std::vector<sim::RgbImage> frames(3, sim::FrameToRgb(View(Filled(0x10801080))));
  ASSERT_TRUE(sim::WriteContactSheetPng(frames, dir_ / "sheet.png"));
  const std::vector<std::uint8_t> bytes = ReadAll(dir_ / "sheet.png");
  ASSERT_GT(bytes.size(), 24u);
  EXPECT_EQ(Be32(bytes, 16), 3u * 360 + 4 * 8);
  EXPECT_EQ(Be32(bytes, 20), 287u + 2 * 8);
}

}  // namespace
