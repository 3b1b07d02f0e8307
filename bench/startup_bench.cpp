// From the platform's call of entry to the splash on the LCD, on a card with a good update file: battery,
// file search, both byte sums and the trailer, ports, sounds (goal: at most 0.5 ms a run, no PNG output).
// The reference is the least the run must do with the card: read the code file and sum its bytes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/ratio.h"

#include "harness/runner.h"
#include "tests/support/metadata.h"
#include "updatefile/update_file.h"

namespace {

namespace fs = std::filesystem;

fs::path MakeCard() {
  // A folder of this run's own: two benchmark runs at once must not share a card.
  std::string pattern = (fs::temp_directory_path() / "vestra-startup-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  const fs::path card = pattern;
  fs::create_directories(card / "SYSTEM");
  std::ofstream(card / "SYSTEM" / "UPDATE.CAM") << "cam";
  std::ofstream(card / "SYSTEM" / "UPDATE.CRS") << "crs";
  const vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
  std::vector<std::uint8_t> image(378000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
  const auto bytes = vupdate::BuildUpdateFile(vupdate::LayoutFor(std::move(image), meta));
  std::ofstream(card / "SYSTEM" / "QR40V110.BIN", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return card;
}

void BM_StartupToSplash(benchmark::State& state) {
  const fs::path card = MakeCard();
  const double reference = vestra_bench::ReferenceSeconds(
      [&] {
        std::ifstream in(card / "SYSTEM" / "QR40V110.BIN", std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        std::uint32_t sum = 0;
        for (char c : bytes) sum += static_cast<std::uint8_t>(c);
        benchmark::DoNotOptimize(sum);
      },
      20);
  const vestra_bench::RatioTimer timer(reference);
  for (auto _ : state) {
    sim::CameraOptions options;
    options.cardDir = card;
    sim::Camera camera(std::move(options));
    const harness::RunResult result = harness::RunModule(camera);
    if (result.panels != std::vector<PanelId>{kSplashPanel})
      state.SkipWithError("the run did not end on the splash");
  }
  timer.Report(state);
  fs::remove_all(card);
}
BENCHMARK(BM_StartupToSplash)->Unit(benchmark::kMillisecond);

}  // namespace
