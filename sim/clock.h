// The camera's virtual clock: 100 ticks a second; nothing sleeps for real.
#pragma once

#include <cstdint>

namespace sim {

constexpr std::uint64_t kTicksPerSecond = 100;

class Clock {
 public:
  std::uint64_t Nanoseconds() const { return ns_; }
  std::uint64_t Ticks() const { return ns_ / 10'000'000; }
  std::uint32_t Seconds() const { return static_cast<std::uint32_t>(ns_ / 1'000'000'000); }
  double SecondsExact() const { return static_cast<double>(ns_) / 1e9; }
  void AdvanceTicks(std::uint64_t ticks) { ns_ += ticks * 10'000'000; }
  void AdvanceNanoseconds(std::uint64_t ns) { ns_ += ns; }

 private:
  std::uint64_t ns_ = 0;
};

}  // namespace sim
