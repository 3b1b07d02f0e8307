// The contact sheet of a run: a tile for each panel, named, the progress panel's with its bar half way.
#include <string>
#include <vector>

#include "app/panel.h"
#include "platform/bytes.h"
#include "sim/frames.h"
#include "tests/app/run_fixture.h"

namespace {

using SheetRun = vestra_test::RunTest;

TEST_F(SheetRun, EachTileNamesItsPanelAndFrameAndTheProgressTileShowsTheBarHalfWay) {
  PutUpdateFile(vestra_test::GoodMetadata(), "QR40A.BIN", 200000);
  sim::CameraOptions options;
  options.cardDir = card_;
  options.flashFile = dir_.path() / "flash.bin";
  options.keys = "left,left,left,centre";
  sim::Camera camera(std::move(options));
  std::filesystem::create_directories(dir_.path() / "shots");
  std::vector<sim::RgbImage> frames;  // every frame, by its number from 1
  const harness::RunResult run = harness::RunModule(
      camera, {.shotsDir = dir_.path() / "shots",
               .keepPanelImages = true,
               .onFrame = [&frames](const sim::LcdFrame& f) { frames.push_back(sim::FrameToRgb(f)); }});
  ASSERT_EQ(run.finalPanel, kSuccessPanel);
#ifdef VESTRA_WITH_PNG
  EXPECT_TRUE(run.shotErrors.empty());
#endif
  ASSERT_EQ(run.sheetCaptions.size(), 6u);
  const std::string progress = run.sheetCaptions[4];
  ASSERT_EQ(progress.rfind("progress, frame ", 0), 0u) << progress;
  const std::size_t middle = std::stoul(progress.substr(sizeof "progress, frame " - 1));
  EXPECT_EQ(run.sheetCaptions, (std::vector<std::string>{"splash, frame 1", "version, frame 2",
                                                         "licence, frame 3", "warning, frame 4", progress,
                                                         "success, frame " + std::to_string(frames.size())}));
  // Frame 5 is the progress panel with its empty bar, the frame before the success panel the full bar.
  EXPECT_GT(middle, 5u);
  EXPECT_LT(middle, frames.size() - 1);
  ASSERT_EQ(run.panelImages.size(), 6u);
  EXPECT_EQ(run.panelImages[4].rgb, frames[middle - 1].rgb) << "the tile is the frame its caption names";
  EXPECT_EQ(run.panelImages[1].rgb, frames[1].rgb);
#ifdef VESTRA_WITH_PNG  // a build without zlib writes no pictures
  // sheet.png: two rows of tiles, each with its caption's band.
  const std::string png = sim_test::ReadFile(dir_.path() / "shots" / "sheet.png");
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(vestra::LoadBE32(reinterpret_cast<const std::uint8_t*>(png.data()) + 20),
            static_cast<std::uint32_t>(2 * (sim::kLcdHeight + sim::kSheetCaptionHeight - sim::kSheetGap) +
                                       3 * sim::kSheetGap));
#endif
}

}  // namespace
