// The progress panel's bar, on the pixels of the simulated draw port, and its screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/install.h"
#include "panels/panels.h"
#include "tests/panels/screen_fixture.h"

namespace {

class ProgressBar : public vestra_test::ScreenTest {
 protected:
  void SetUp() override {
    Start();
    Clear(background);
    gPanel[kProgressPanel].data = &bar_;
  }
  void TearDown() override {
    gPanel[kProgressPanel].data = nullptr;
    ScreenTest::TearDown();
  }
  void Draw(std::int32_t previous, std::int32_t value, std::int16_t maximum, std::uint8_t lcd = 0) {
    Panel4DrawBar(&gPanel[kProgressPanel], previous, value, maximum, lcd);
  }
  sim::Ycc At(int h, int v) { return Pixel(h, v).value(); }
  bool White(int h, int v) { return At(h, v) == vestra_test::AsYcc(gWhite); }
  bool Black(int h, int v) { return At(h, v) == vestra_test::AsYcc(gBlack); }
  bool Green(int h, int v) { return At(h, v).cr < 120 && At(h, v).cb < 120; }
  bool Grey(int h, int v) { return At(h, v).cb == 128 && At(h, v).cr == 128 && At(h, v).y > 20; }
  bool Untouched(int h, int v) { return At(h, v) == vestra_test::AsYcc(background); }

  const GXColor background = vestra_test::Rgb(0, 0, 200);
  vestra::Rect bar_{159, 60, 184, 228};  // what the init procedure builds on the 288 x 196 content area
};

TEST_F(ProgressBar, GeometryForMaximum139) {
  // Fill right is 61 + 165 * value / 139. The last case, halfway, is looked at in detail below.
  const struct {
    std::int32_t value;
    int lastGreen;
    bool firstLine, secondLine;
  } cases[] = {
      {139, 225, false, false}, {500, 225, false, false}, {138, 223, true, false}, {70, 143, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << c.value << " of 139");
    Clear(background);
    Draw(-1, c.value, 139);
    EXPECT_TRUE(Green(c.lastGreen, 170));
    EXPECT_EQ(Black(c.lastGreen + 1, 170), c.firstLine);
    EXPECT_EQ(Black(c.lastGreen + 2, 170), c.secondLine);
  }
  for (auto [h, v] : {std::pair{60, 159}, {227, 159}, {60, 183}, {227, 183}, {140, 159}})
    EXPECT_TRUE(White(h, v)) << "outline at " << h << "," << v;
  EXPECT_TRUE(Untouched(59, 170));
  EXPECT_TRUE(Untouched(228, 170));
  EXPECT_TRUE(Green(61, 170)) << "83 pixels of fill from column 61";
  for (int v = 164; v <= 177; ++v) EXPECT_TRUE(Black(144, v)) << "first edge line, row " << v;
  for (int v = 165; v <= 176; ++v) EXPECT_TRUE(Black(145, v)) << "second edge line, row " << v;
  EXPECT_FALSE(Black(145, 164));
  EXPECT_FALSE(Black(145, 177));
  EXPECT_TRUE(Grey(146, 170)) << "the empty trough";
  EXPECT_TRUE(Grey(200, 170));
  EXPECT_GT(At(200, 174).y, At(200, 161).y) << "the trough brightens downwards to where its halves meet";
  EXPECT_GT(At(200, 175).y, At(200, 181).y) << "and darkens again below";

  Clear(background);
  Draw(-1, 5, 0);
  EXPECT_TRUE(White(60, 159)) << "a bar without steps draws an empty trough";
  EXPECT_TRUE(Grey(100, 170));
}

TEST_F(ProgressBar, DrawsOnlyWhenTheFillChangesByAPixel) {
  const std::uint64_t frames = graphics().frameCount();
  Draw(70, 70, 139, 1);
  EXPECT_TRUE(Untouched(60, 159));
  EXPECT_EQ(graphics().frameCount(), frames) << "same width: no LCD copy";

  Draw(-1, 0, 139, 1);
  EXPECT_TRUE(White(60, 159)) << "previous -1 always draws";
  EXPECT_FALSE(Green(61, 170));
  EXPECT_EQ(graphics().frameCount(), frames + 1) << "an empty bar still reaches the LCD";

  Draw(0, 1, 139, 1);
  EXPECT_TRUE(Green(61, 170));
  EXPECT_EQ(graphics().frameCount(), frames + 2);
}

TEST_F(ProgressBar, ScreenTextsAndBar) {
  gProgressBarMax = 12;
  DrawPanel(4);
  std::vector<std::string> texts;
  for (const auto& record : graphics().texts())
    if (texts.empty() || texts.back() != record.text) texts.push_back(record.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Keep power on", "until update process", "is complete.",
                                             "updating FIRMWARE file..."}));
  EXPECT_TRUE(White(60, 159));
}

}  // namespace
