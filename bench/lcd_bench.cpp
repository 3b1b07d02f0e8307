// Converting a whole draw port into an LCD port, as every screen update does, against a memcpy of the draw
// port (goal: a ratio of at most 2).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/ratio.h"
#include "platform/graphics.h"
#include "sim/camera.h"
#include "sim/graphics.h"

namespace {

void BM_CopyBitsFullFrame(benchmark::State& state) {
  sim::Camera camera{sim::CameraOptions{}};
  sim::SetCurrent(&camera);
  vestra::GWorldPtr draw = nullptr;
  vestra::GWorldPtr lcd = nullptr;
  vestra::Rect bounds{0, 0, 216, 288};
  vestra::GMNewGWorld(&draw, 32, &bounds, 0, 0, 0);
  bounds = {0, 0, 287, 360};
  vestra::GMNewGWorld(&lcd, 16, &bounds, 0, 0, 0);
  // A picture with varied pixels, so nothing in the conversion is trivially constant.
  auto* pixels = static_cast<std::uint32_t*>((*draw->portPixMap)->baseAddr);
  for (int i = 0; i < 288 * 216; ++i) pixels[i] = static_cast<std::uint32_t>(i * 2654435761u) & 0xFFFFFFu;
  const vestra::Rect src{0, 0, 216, 288};
  const vestra::Rect dst{10, 36, 226, 324};
  const double reference = vestra_bench::DrawPortCopySeconds(pixels, 288 * 216);
  const vestra_bench::RatioTimer timer(reference);
  for (auto _ : state) {
    vestra::GMCopyBits(*draw->portPixMap, *lcd->portPixMap, &src, &dst, 0, 0);
    benchmark::DoNotOptimize((*lcd->portPixMap)->baseAddr);
    benchmark::ClobberMemory();
  }
  timer.Report(state);
  state.SetItemsProcessed(state.iterations() * 288 * 216);
  sim::SetCurrent(nullptr);
}
BENCHMARK(BM_CopyBitsFullFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
