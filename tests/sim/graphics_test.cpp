// The LCD buffers as start-up builds them: each UpdateLCD copies the draw port into the other buffer and
// shows it, the picture at (36, 10) with each pixel pair's chroma averaged, the black border kept.
#include <gtest/gtest.h>

#include "services/lcd.h"
#include "tests/panels/screen_fixture.h"

namespace {

class LcdCopy : public vestra_test::ScreenTest {
 protected:
  void Paint(sim::Ycc c, std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom) {
    const vestra::RGBColor colour{c.cb, c.y, c.cr};
    const vestra::Rect r{top, left, bottom, right};
    vestra::GMRGBForeColor(&colour);
    vestra::GMPaintRect(&r);
  }
  sim::Ycc At(vestra::GWorldPtr port, int h, int v) { return graphics().pixel(port, h, v).value(); }
  int Count(vestra::GWorldPtr port, sim::Ycc c) {
    int n = 0;
    for (int i = 0; i < 360 * 287; ++i) n += At(port, i % 360, i / 360) == c;
    return n;
  }
  static constexpr sim::Ycc kBlack{128, 16, 128}, kWhite{128, 255, 128}, kPen{90, 200, 60};
};

TEST_F(LcdCopy, UpdateLCDAlternatesBuffersAndPlacesThePicture) {
  Start();
  Clear(gWhite);
  // A pixel pair with different chroma and luma at the top-left, a marker at the bottom-right.
  Paint({100, 50, 200}, 0, 0, 1, 1);
  Paint({51, 60, 0}, 1, 0, 2, 1);
  Paint(kPen, 286, 215, 288, 216);
  UpdateLCD();
  EXPECT_EQ(gLCDPort, gLCDPort2);
  EXPECT_EQ(graphics().shownPort(), gLCDPort2);
  EXPECT_EQ(At(gLCDPort2, 36, 10), (sim::Ycc{75, 50, 100}));  // chroma of the pair averaged
  EXPECT_EQ(At(gLCDPort2, 37, 10), (sim::Ycc{75, 60, 100}));
  EXPECT_EQ(At(gLCDPort2, 323, 225), kPen);
  EXPECT_EQ(At(gLCDPort2, 100, 100), kWhite);
  EXPECT_EQ(Count(gLCDPort2, kBlack), 360 * 287 - 288 * 216);
  for (auto [h, v] : {std::pair{35, 10}, {324, 10}, {36, 9}, {36, 226}, {0, 0}, {359, 286}}) {
    EXPECT_EQ(At(gLCDPort2, h, v), kBlack) << h << "," << v;
  }
  EXPECT_EQ(Count(gLCDPort1, kBlack), 360 * 287);  // the other buffer untouched
  UpdateLCD();
  EXPECT_EQ(gLCDPort, gLCDPort1);
  EXPECT_EQ(graphics().shownPort(), gLCDPort1);
  EXPECT_EQ(At(gLCDPort1, 323, 225), kPen);
}

// A rectangle on a pixel-pair port: each pixel it covers takes the colour (its pair's chroma with it), each
// pixel beside it keeps its luma, whichever parity the edges have.
TEST_F(LcdCopy, PaintOnAPairPortCoversExactlyItsPixels) {
  Start();
  struct Span {
    std::int16_t left, right;
  };
  for (const Span s : {Span{10, 20}, Span{11, 20}, Span{10, 21}, Span{11, 21}, Span{11, 12}, Span{12, 13}}) {
    vestra::GMSetPort(gLCDPort1);
    Paint(kBlack, 0, 0, 360, 287);
    Paint(kPen, s.left, 5, s.right, 7);
    for (int h = s.left - 2; h < s.right + 2; ++h) {
      const bool inside = h >= s.left && h < s.right;
      const sim::Ycc got = At(gLCDPort1, h, 6);
      EXPECT_EQ(got.y, inside ? kPen.y : kBlack.y) << s.left << ".." << s.right << " at " << h;
      const bool pairTouched = (h / 2 * 2 >= s.left - 1) && (h / 2 * 2 < s.right);
      EXPECT_EQ(got.cb, pairTouched ? kPen.cb : kBlack.cb) << s.left << ".." << s.right << " at " << h;
    }
    EXPECT_EQ(At(gLCDPort1, s.left, 4), kBlack);
    EXPECT_EQ(At(gLCDPort1, s.left, 7), kBlack);
  }
}

}  // namespace
