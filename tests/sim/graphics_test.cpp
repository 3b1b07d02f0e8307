// The simulated graphics manager's copy into the LCD ports, through the platform calls the module makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "platform/graphics.h"
#include "sim/camera.h"
#include "sim/graphics.h"

namespace {

using vestra::GWorldPtr;
using vestra::Rect;

constexpr sim::Ycc kBlack{128, 16, 128};
constexpr sim::Ycc kWhite{128, 255, 128};
constexpr sim::Ycc kPen{90, 200, 60};

Rect R(int left, int top, int right, int bottom) {
  return {static_cast<std::int16_t>(top), static_cast<std::int16_t>(left), static_cast<std::int16_t>(bottom),
          static_cast<std::int16_t>(right)};
}

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera_ = std::make_unique<sim::Camera>(sim::CameraOptions{});
    camera_->Boot();
    sim::SetCurrent(camera_.get());
    Rect r = R(0, 0, 288, 216);
    vestra::GMNewGWorld(&draw_, 32, &r, 0, 0, 0);
    r = R(0, 0, 360, 287);
    vestra::GMNewGWorld(&lcd1_, 16, &r, 0, 0, 0);
    vestra::GMNewGWorld(&lcd2_, 16, &r, 0, 0, 0);
    ClearLcd(lcd1_);
    ClearLcd(lcd2_);
    vestra::GMSetPort(draw_);
    Paint(kWhite, 0, 0, 288, 216);
  }
  void TearDown() override { sim::SetCurrent(nullptr); }

  // As start-up clears them: the black word written straight into the pixel memory.
  static void ClearLcd(GWorldPtr port) {
    auto* words = static_cast<std::uint32_t*>((*port->portPixMap)->baseAddr);
    for (int i = 0; i < 360 * 287 / 2; ++i) words[i] = 0x10801080;
  }
  static void Paint(sim::Ycc c, int left, int top, int right, int bottom) {
    const vestra::RGBColor colour{c.cb, c.y, c.cr};
    vestra::GMRGBForeColor(&colour);
    const Rect r = R(left, top, right, bottom);
    vestra::GMPaintRect(&r);
  }
  void Copy(GWorldPtr to, int left, int top, int right, int bottom) {
    const Rect src = R(0, 0, 288, 216), dst = R(left, top, right, bottom);
    vestra::GMCopyBits(*draw_->portPixMap, *to->portPixMap, &src, &dst, 0, 0);
  }
  sim::Ycc At(GWorldPtr port, int h, int v) { return camera_->graphics().pixel(port, h, v).value(); }
  int Count(GWorldPtr port, sim::Ycc c) {
    int n = 0;
    for (int i = 0; i < 360 * 287; ++i) n += At(port, i % 360, i / 360) == c;
    return n;
  }

  std::unique_ptr<sim::Camera> camera_;
  GWorldPtr draw_ = nullptr;
  GWorldPtr lcd1_ = nullptr;
  GWorldPtr lcd2_ = nullptr;
};

TEST_F(GraphicsTest, CopyBitsPlacesThePictureInTheLcdPortAndLeavesTheBorder) {
  // A pixel pair with different chroma and luma at the top-left, a marker at the bottom-right.
  Paint({100, 50, 200}, 0, 0, 1, 1);
  Paint({51, 60, 0}, 1, 0, 2, 1);
  Paint(kPen, 286, 215, 288, 216);
  Copy(lcd2_, 36, 10, 324, 226);
  EXPECT_EQ(At(lcd2_, 36, 10), (sim::Ycc{75, 50, 100}));  // chroma of the pair averaged
  EXPECT_EQ(At(lcd2_, 37, 10), (sim::Ycc{75, 60, 100}));
  EXPECT_EQ(At(lcd2_, 323, 225), kPen);
  EXPECT_EQ(At(lcd2_, 100, 100), kWhite);
  EXPECT_EQ(Count(lcd2_, kBlack), 360 * 287 - 288 * 216);
  for (auto [h, v] : {std::pair{35, 10}, {324, 10}, {36, 9}, {36, 226}, {0, 0}, {359, 286}}) {
    EXPECT_EQ(At(lcd2_, h, v), kBlack) << h << "," << v;
  }
  EXPECT_EQ(Count(lcd1_, kBlack), 360 * 287);  // the other buffer untouched
}

}  // namespace
