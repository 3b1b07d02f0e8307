// The whole draw of each screen: content, soft-key bar and the conversion into the LCD port.
// Target: at most 300 us a panel.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "app/entry.h"
#include "app/module_state.h"
#include "app/panel.h"
#include "bench/ratio.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "platform/graphics.h"
#include "services/lcd.h"
#include "sim/camera.h"
#include "tests/support/draw_start.h"

namespace {

// A camera at the point where start-up draws its first panel.
std::unique_ptr<sim::Camera> StartCamera(std::uint32_t region) {
  sim::CameraOptions options;
  options.profile.region = region;
  auto camera = std::make_unique<sim::Camera>(options);
  camera->Boot();
  sim::SetCurrent(camera.get());
  vestra_test::StartModuleForDrawing();
  gFile[0].fwVersion = 0x01020000;
  gErrCode = kErrCorrupt;
  return camera;
}

void BM_PanelDraw(benchmark::State& state) {
  const auto panel = static_cast<std::int16_t>(state.range(0));
  const auto region = static_cast<std::uint32_t>(state.range(1));
  auto camera = StartCamera(region);
  gCurPanel = panel;
  AppDraw();  // faces are loaded on first use; keep that out of the timing
  for (auto _ : state) AppDraw();
  sim::SetCurrent(nullptr);
}

BENCHMARK(BM_PanelDraw)
    ->ArgNames({"panel", "region"})
    ->ArgsProduct({{0, 1, 2, 3, 5, 6, 7, 8}, {1, 8}})
    ->Unit(benchmark::kMicrosecond);

// The picture as it reaches the LCD: a whole frame converted into the buffer not on show, against a memcpy
// of the draw port (goal: a ratio of at most 2).
void BM_UpdateLCD(benchmark::State& state) {
  auto camera = StartCamera(1);
  AppDraw();
  const auto* pixels = static_cast<const std::uint32_t*>((*gDrawPort->portPixMap)->baseAddr);
  const double reference = vestra_bench::DrawPortCopySeconds(
      pixels, static_cast<std::size_t>(vestra::kDrawPortWidth) * vestra::kDrawPortHeight);
  const vestra_bench::RatioTimer timer(reference);
  for (auto _ : state) UpdateLCD();
  timer.Report(state);
  sim::SetCurrent(nullptr);
}
BENCHMARK(BM_UpdateLCD)->Unit(benchmark::kMicrosecond);

}  // namespace
