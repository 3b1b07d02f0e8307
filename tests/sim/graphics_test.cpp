// The simulated graphics manager and LCD manager, through the platform calls the module makes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "platform/power.h"
#include "sim/camera.h"
#include "sim/frames.h"
#include "sim/graphics.h"
#include "sim/resources.h"

namespace {

using vestra::GWorldPtr;
using vestra::Rect;

constexpr sim::Ycc kBlack{128, 16, 128};
constexpr sim::Ycc kWhite{128, 255, 128};
constexpr sim::Ycc kPen{90, 200, 60};

vestra::RGBColor Colour(sim::Ycc c) {
  return {c.cb, c.y, c.cr};
}

Rect MakeRect(int left, int top, int right, int bottom) {
  Rect r;
  vestra::GMSetRect(&r, static_cast<std::int16_t>(left), static_cast<std::int16_t>(top),
                    static_cast<std::int16_t>(right), static_cast<std::int16_t>(bottom));
  return r;
}

void* Base(GWorldPtr port) {
  return (*port->portPixMap)->baseAddr;
}

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override { Start({}); }
  void TearDown() override { sim::SetCurrent(nullptr); }

  void Start(sim::Profile profile) {
    sim::SetCurrent(nullptr);
    sim::CameraOptions options;
    options.profile = std::move(profile);
    camera_ = std::make_unique<sim::Camera>(std::move(options));
    camera_->Boot();
    sim::SetCurrent(camera_.get());
    vestra::GMInitGraf(0);
    vestra::GMInitFonts();
    Rect r = MakeRect(0, 0, 288, 216);
    vestra::GMNewGWorld(&draw_, 32, &r, 0, 0, 0);
    r = MakeRect(0, 0, 360, 287);
    vestra::GMNewGWorld(&lcd1_, 16, &r, 0, 0, 0);
    vestra::GMNewGWorld(&lcd2_, 16, &r, 0, 0, 0);
    ClearLcd(lcd1_);
    ClearLcd(lcd2_);
    vestra::GMSetPort(draw_);
    vestra::GMPenSize(1, 1);
    Fill(kBlack);
    const auto pen = Colour(kPen);
    vestra::GMRGBForeColor(&pen);
  }

  // As start-up clears them: the black word written straight into the pixel memory.
  static void ClearLcd(GWorldPtr port) {
    auto* words = static_cast<std::uint32_t*>(Base(port));
    for (int i = 0; i < 360 * 287 / 2; ++i) words[i] = 0x10801080;
  }

  void Fill(sim::Ycc c) {
    const auto colour = Colour(c);
    vestra::GMRGBBackColor(&colour);
    const Rect all = MakeRect(0, 0, 288, 216);
    vestra::GMEraseRect(&all);
  }

  sim::Ycc At(GWorldPtr port, int h, int v) { return camera_->graphics().pixel(port, h, v).value(); }

  int Count(GWorldPtr port, int width, int height, sim::Ycc c) {
    int n = 0;
    for (int v = 0; v < height; ++v) {
      for (int h = 0; h < width; ++h) n += At(port, h, v) == c;
    }
    return n;
  }

  std::unique_ptr<sim::Camera> camera_;
  GWorldPtr draw_ = nullptr;
  GWorldPtr lcd1_ = nullptr;
  GWorldPtr lcd2_ = nullptr;
};

TEST_F(GraphicsTest, PortsHaveRealPixelMemoryAndTheirLayout) {
  ASSERT_NE(draw_, nullptr);
  const vestra::PixMap& draw = **draw_->portPixMap;
  EXPECT_NE(draw.baseAddr, nullptr);
  EXPECT_EQ(draw.pixelSize, 32);
  EXPECT_EQ(draw.rowBytes, 288 * 4);
  const vestra::PixMap& lcd = **lcd1_->portPixMap;
  EXPECT_EQ(lcd.pixelSize, 16);
  EXPECT_EQ(lcd.rowBytes, 360 * 2);
  EXPECT_NE(lcd.baseAddr, (**lcd2_->portPixMap).baseAddr);
}

TEST_F(GraphicsTest, NewGWorldRefusesWhatItCannotBuild) {
  struct Case {
    const char* what;
    std::int16_t depth;
    Rect bounds;
  };
  const Case cases[] = {
      {"depth 8", 8, MakeRect(0, 0, 10, 10)},
      {"empty", 32, MakeRect(0, 0, 0, 10)},
      {"inverted", 16, MakeRect(10, 10, 0, 0)},
      {"huge", 32, MakeRect(-30000, -30000, 30000, 30000)},
  };
  for (const Case& c : cases) {
    GWorldPtr port = draw_;
    EXPECT_NE(vestra::GMNewGWorld(&port, c.depth, &c.bounds, 0, 0, 0), 0) << c.what;
    EXPECT_EQ(port, nullptr) << c.what;
  }
}

TEST_F(GraphicsTest, ShapesPaintTheirPixelsAndNothingOutsideThePort) {
  struct Case {
    const char* what;
    std::function<void()> draw;
    int painted;
    std::vector<std::pair<int, int>> on;
    std::vector<std::pair<int, int>> off;
  };
  auto paint = [](int l, int t, int r, int b) {
    return [=] {
      const Rect rect = MakeRect(l, t, r, b);
      vestra::GMPaintRect(&rect);
    };
  };
  auto frame = [](int l, int t, int r, int b) {
    return [=] {
      const Rect rect = MakeRect(l, t, r, b);
      vestra::GMFrameRect(&rect);
    };
  };
  auto line = [](int h0, int v0, int h1, int v1) {
    return [=] {
      vestra::GMMoveTo(static_cast<std::int16_t>(h0), static_cast<std::int16_t>(v0));
      vestra::GMLineTo(static_cast<std::int16_t>(h1), static_cast<std::int16_t>(v1));
    };
  };
  const Case cases[] = {
      {"paint, right and bottom exclusive",
       paint(10, 20, 15, 23),
       15,
       {{10, 20}, {14, 22}},
       {{15, 20}, {10, 23}}},
      {"paint beyond every edge", paint(-100, -100, 400, 400), 288 * 216, {{0, 0}, {287, 215}}, {}},
      {"paint across the bottom-right corner", paint(286, 214, 300, 300), 4, {{287, 215}}, {{285, 214}}},
      {"paint inverted", paint(20, 20, 10, 10), 0, {}, {{15, 15}}},
      {"paint wholly outside", paint(-50, 300, -1, 400), 0, {}, {}},
      {"frame inside its rect",
       frame(10, 10, 20, 15),
       26,
       {{10, 10}, {19, 14}, {19, 10}},
       {{20, 15}, {15, 12}}},
      {"frame cut by the top-left corner",
       frame(-5, -5, 5, 5),
       9,
       {{4, 0}, {0, 4}, {4, 4}},
       {{3, 3}, {0, 0}}},
      {"line with both ends", line(0, 0, 9, 0), 10, {{0, 0}, {9, 0}}, {{10, 0}}},
      {"line drawn backwards", line(9, 5, 0, 5), 10, {{0, 5}, {9, 5}}, {}},
      {"diagonal line", line(0, 0, 4, 4), 5, {{2, 2}, {4, 4}}, {{1, 0}}},
      {"steep line", line(3, 0, 4, 10), 11, {{3, 0}, {4, 10}}, {}},
      {"line entering and leaving the port", line(-10, -10, 300, 300), 216, {{0, 0}, {215, 215}}, {}},
      {"line at the coordinate limits", line(-32768, -32768, 32767, 32767), 216, {{100, 100}}, {}},
      {"line outside the port", line(-50, -50, -5, -60), 0, {}, {}},
  };
  for (const Case& c : cases) {
    Fill(kBlack);
    c.draw();
    EXPECT_EQ(Count(draw_, 288, 216, kPen), c.painted) << c.what;
    for (auto [h, v] : c.on) EXPECT_EQ(At(draw_, h, v), kPen) << c.what << " at " << h << "," << v;
    for (auto [h, v] : c.off) EXPECT_EQ(At(draw_, h, v), kBlack) << c.what << " at " << h << "," << v;
  }
}

TEST_F(GraphicsTest, LineToLeavesThePenAtItsEnd) {
  vestra::GMMoveTo(5, 5);
  vestra::GMLineTo(8, 5);
  vestra::GMLineTo(8, 9);  // continues from (8, 5)
  EXPECT_EQ(At(draw_, 8, 7), kPen);
  EXPECT_EQ(Count(draw_, 288, 216, kPen), 4 + 4);
}

TEST_F(GraphicsTest, RectArithmeticWrapsLikeSixteenBitCoordinates) {
  Rect r = MakeRect(10, 20, 30, 40);
  vestra::GMOffsetRect(&r, 5, -5);
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{15, 15, 35, 35}));
  vestra::GMInsetRect(&r, 2, 3);
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{17, 18, 33, 32}));
  r = MakeRect(32767, 0, 32767, 0);
  vestra::GMOffsetRect(&r, 1, 0);
  EXPECT_EQ(r.left, -32768);
}

TEST_F(GraphicsTest, TheLcdClearWordReadsAsBlackPixels) {
  for (int h : {0, 1, 180, 359}) EXPECT_EQ(At(lcd1_, h, 286), kBlack) << h;
}

TEST_F(GraphicsTest, CopyBitsPlacesThePictureInTheLcdPortAndLeavesTheBorder) {
  Fill(kWhite);
  // A pixel pair with different chroma and luma at the top-left, a marker at the bottom-right.
  const sim::Ycc a{100, 50, 200};
  const sim::Ycc b{51, 60, 0};
  for (auto [c, h] : {std::pair{a, 0}, std::pair{b, 1}}) {
    const auto colour = Colour(c);
    vestra::GMRGBForeColor(&colour);
    const Rect px = MakeRect(h, 0, h + 1, 1);
    vestra::GMPaintRect(&px);
  }
  const auto pen = Colour(kPen);
  vestra::GMRGBForeColor(&pen);
  const Rect corner = MakeRect(286, 215, 288, 216);
  vestra::GMPaintRect(&corner);

  const Rect src = MakeRect(0, 0, 288, 216);
  const Rect dst = MakeRect(36, 10, 324, 226);
  vestra::GMCopyBits(*draw_->portPixMap, *lcd2_->portPixMap, &src, &dst, 0, 0);

  EXPECT_EQ(At(lcd2_, 36, 10), (sim::Ycc{75, 50, 100}));  // chroma of the pair averaged
  EXPECT_EQ(At(lcd2_, 37, 10), (sim::Ycc{75, 60, 100}));
  EXPECT_EQ(At(lcd2_, 323, 225), kPen);
  EXPECT_EQ(At(lcd2_, 100, 100), kWhite);
  EXPECT_EQ(Count(lcd2_, 360, 287, kBlack), 360 * 287 - 288 * 216);
  for (auto [h, v] : {std::pair{35, 10}, {324, 10}, {36, 9}, {36, 226}, {0, 0}, {359, 286}}) {
    EXPECT_EQ(At(lcd2_, h, v), kBlack) << h << "," << v;
  }
  EXPECT_EQ(Count(lcd1_, 360, 287, kBlack), 360 * 287);  // the other buffer untouched
}

TEST_F(GraphicsTest, CopyBitsClipsToBothPortsAndHandlesAnOddColumn) {
  Fill(kWhite);
  const Rect src = MakeRect(0, 0, 288, 216);
  const Rect overhanging = MakeRect(200, 200, 488, 416);
  vestra::GMCopyBits(*draw_->portPixMap, *lcd1_->portPixMap, &src, &overhanging, 0, 0);
  EXPECT_EQ(Count(lcd1_, 360, 287, kWhite), 160 * 87);
  EXPECT_EQ(At(lcd1_, 359, 286), kWhite);

  ClearLcd(lcd1_);
  const Rect odd = MakeRect(37, 10, 40, 11);  // starts and ends inside a pixel pair
  vestra::GMCopyBits(*draw_->portPixMap, *lcd1_->portPixMap, &src, &odd, 0, 0);
  EXPECT_EQ(At(lcd1_, 36, 10).y, 16);
  EXPECT_EQ(At(lcd1_, 37, 10).y, 255);
  EXPECT_EQ(At(lcd1_, 39, 10).y, 255);
  EXPECT_EQ(At(lcd1_, 40, 10).y, 16);
  EXPECT_EQ(Count(lcd1_, 360, 287, kBlack), 360 * 287 - 3);  // the neighbour shares chroma, not luma
}

TEST_F(GraphicsTest, EachBufferSwitchIsOneFrameOfThatBuffer) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> seen;
  camera_->graphics().setFrameObserver([&](const sim::LcdFrame& f) {
    ASSERT_EQ(f.words.size(), 180u * 287u);
    seen.emplace_back(f.index, f.words[0]);
  });
  static_cast<std::uint32_t*>(Base(lcd2_))[0] = 0xFF80FF80;
  vestra::LMSetupBuffers(Base(lcd1_), Base(draw_));
  EXPECT_EQ(camera_->graphics().frameCount(), 0u);
  vestra::LMSwitchBuffer(Base(lcd2_));
  vestra::LMSwitchBuffer(Base(lcd1_));
  vestra::LMSwitchBuffer(Base(draw_));  // not an LCD buffer: no frame
  vestra::LMSwitchBuffer(nullptr);
  EXPECT_EQ(camera_->graphics().frameCount(), 2u);
  EXPECT_EQ(seen, (std::vector<std::pair<std::uint64_t, std::uint32_t>>{{1, 0xFF80FF80}, {2, 0x10801080}}));
  EXPECT_EQ(camera_->graphics().shownPort(), lcd1_);
}

TEST_F(GraphicsTest, LcdOnFollowsTheProfileUntilTheControllerIsEnabled) {
  sim::Profile profile;
  profile.power.lcdOn = false;
  Start(profile);
  EXPECT_EQ(vestra::LMLCDOn(), 0);
  vestra::LMEnableLCDController(Base(lcd1_), Base(draw_));
  EXPECT_NE(vestra::LMLCDOn(), 0);
  EXPECT_EQ(camera_->lcdEnableCalls, 1);
  Start({});
  EXPECT_NE(vestra::LMLCDOn(), 0);
  EXPECT_EQ(camera_->lcdEnableCalls, 0);
}

TEST_F(GraphicsTest, DrawingWithInterruptsLockedIsAFault) {
  const Rect r = MakeRect(0, 0, 5, 5);
  vestra::GMPaintRect(&r);
  EXPECT_EQ(camera_->faultsInsideLock, 0);
  camera_->interruptsLocked = true;
  vestra::GMPaintRect(&r);
  vestra::GMLineTo(3, 3);
  vestra::GMDrawText("A", 0, 1);
  camera_->interruptsLocked = false;
  vestra::GMFrameRect(&r);
  EXPECT_EQ(camera_->faultsInsideLock, 3);
}

// JFIF forward transform, for checking the icon's pixels.
sim::Ycc Jfif(int r, int g, int b) {
  auto c = [](double v) { return static_cast<std::uint8_t>(std::lround(std::fmin(255, std::fmax(0, v)))); };
  return {c(128 - 0.168736 * r - 0.331264 * g + 0.5 * b), c(0.299 * r + 0.587 * g + 0.114 * b),
          c(128 + 0.5 * r - 0.418688 * g - 0.081312 * b)};
}

TEST_F(GraphicsTest, TheLogoIconLoadsFromTheResourcesAndPlotsCutToItsRect) {
  vestra::CIconHandle icon = vestra::GMGetCIcon(static_cast<std::int16_t>(sim::kLogoIconId));
  ASSERT_NE(icon, nullptr);
  const Rect& bounds = (*icon)->iconPMap.bounds;
  EXPECT_EQ((std::vector<int>{bounds.top, bounds.left, bounds.bottom, bounds.right}),
            (std::vector<int>{0, 0, sim::kLogoHeight, sim::kLogoWidth}));

  const std::vector<std::uint8_t> res = sim::MakeLogoIconResource();
  auto expected = [&](int x, int y) {
    const std::uint8_t* p = res.data() + 4 + (y * sim::kLogoWidth + x) * 3;
    return Jfif(p[0], p[1], p[2]);
  };
  const Rect whole = MakeRect(100, 50, 100 + sim::kLogoWidth, 50 + sim::kLogoHeight);
  vestra::GMPlotCIcon(&whole, icon);
  for (auto [x, y] : {std::pair{0, 0}, {8, 3}, {20, 27}, {47, 31}}) {
    EXPECT_EQ(At(draw_, 100 + x, 50 + y), expected(x, y)) << x << "," << y;
  }
  const Rect small = MakeRect(10, 10, 20, 15);
  vestra::GMPlotCIcon(&small, icon);
  EXPECT_EQ(At(draw_, 19, 14), expected(9, 4));
  EXPECT_EQ(At(draw_, 20, 14), kBlack);
  EXPECT_EQ(At(draw_, 19, 15), kBlack);
  const Rect edge = MakeRect(270, 200, 318, 232);  // hangs off the port
  vestra::GMPlotCIcon(&edge, icon);
  EXPECT_EQ(At(draw_, 287, 215), expected(17, 15));

  ASSERT_EQ(camera_->graphics().iconPlots().size(), 3u);
  EXPECT_EQ(camera_->graphics().iconPlots()[1].rect.right, 20);
}

TEST_F(GraphicsTest, AMissingIconIsNull) {
  EXPECT_EQ(vestra::GMGetCIcon(1234), nullptr);
  sim::Profile profile;
  profile.platform.logoIcon = false;
  Start(profile);
  EXPECT_EQ(vestra::GMGetCIcon(static_cast<std::int16_t>(sim::kLogoIconId)), nullptr);
  const Rect r = MakeRect(0, 0, 10, 10);
  vestra::GMPlotCIcon(&r, nullptr);  // nothing drawn, nothing broken
  EXPECT_EQ(Count(draw_, 288, 216, kBlack), 288 * 216);
}

}  // namespace
