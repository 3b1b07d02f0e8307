// Speeds as ratios against a reference measured in the same run: the machine's load and clock cancel out.
#pragma once

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vestra_bench {

// This thread's processor time, in seconds: other work on a shared machine does not count.
inline double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The median processor time of one call of work, over 9 rounds of calls calls each.
template <typename Work>
double ReferenceSeconds(Work&& work, int calls) {
  std::array<double, 9> rounds{};
  for (double& round : rounds) {
    const double start = CpuSeconds();
    for (int i = 0; i < calls; ++i) work();
    round = (CpuSeconds() - start) / calls;
  }
  std::nth_element(rounds.begin(), rounds.begin() + 4, rounds.end());
  return rounds[4];
}

// Times the benchmark's own loop in processor time, and reports it against the reference as "ratio".
class RatioTimer {
 public:
  explicit RatioTimer(double referenceSeconds) : reference_(referenceSeconds), start_(CpuSeconds()) {}
  void Report(benchmark::State& state) const {
    if (state.iterations() == 0 || reference_ <= 0) return;
    const double each = (CpuSeconds() - start_) / static_cast<double>(state.iterations());
    state.counters["ratio"] = each / reference_;
    state.counters["reference_us"] = reference_ * 1e6;
  }

 private:
  double reference_;
  double start_;
};

// The reference of the LCD copies: one memcpy of a whole draw port of 32-bit pixels.
inline double DrawPortCopySeconds(const std::uint32_t* pixels, std::size_t count) {
  std::vector<std::uint32_t> copy(count);
  return ReferenceSeconds(
      [&] {
        std::memcpy(copy.data(), pixels, count * sizeof(std::uint32_t));
        benchmark::ClobberMemory();
      },
      200);
}

}  // namespace vestra_bench
