// The camera's virtual clock: 100 ticks a second; nothing sleeps for real.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/kernel.h"

namespace sim {

constexpr std::uint64_t kTicksPerSecond = vestra::kTicksPerSecond;
constexpr std::uint64_t kNanosecondsPerTick = 1'000'000'000 / kTicksPerSecond;

class Clock {
 public:
  std::uint64_t Nanoseconds() const { return ns_; }
  std::uint64_t Ticks() const { return ns_ / kNanosecondsPerTick; }
  std::uint32_t Seconds() const { return static_cast<std::uint32_t>(ns_ / 1'000'000'000); }
  double SecondsExact() const { return static_cast<double>(ns_) / 1e9; }
  void AdvanceTicks(std::uint64_t ticks) { AdvanceNanoseconds(ticks * kNanosecondsPerTick); }
  void AdvanceNanoseconds(std::uint64_t ns) {
    ns_ += ns;
    if (onAdvance_) onAdvance_(ns_);
  }

  // Called with the new time after every advance: a camera held by a person paces itself against real time
  // here, and may throw to stop the run where it stands (a power cut).
  void SetOnAdvance(std::function<void(std::uint64_t)> hook) { onAdvance_ = std::move(hook); }

 private:
  std::uint64_t ns_ = 0;
  std::function<void(std::uint64_t)> onAdvance_;
};

}  // namespace sim
