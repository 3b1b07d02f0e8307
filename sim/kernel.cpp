// The kernel calls: the virtual clock, semaphores on a single task, the interrupt lock.
#include "sim/kernel.h"

#include "sim/camera.h"
#include "sim/flash.h"

namespace sim {

vestra::SEM_ID Kernel::CreateBinary(std::int32_t initialState) {
  vestra::SemaphoreRec& s = semaphores_.emplace_back();
  s.full = initialState != 0;
  return &s;
}

bool Kernel::Owns(vestra::SEM_ID semaphore) const {
  for (const auto& s : semaphores_) {
    if (&s == semaphore) return true;
  }
  return false;
}

}  // namespace sim

namespace vestra {

void* g_splash_buffer = nullptr;

SEM_ID semBCreate(std::int32_t, std::int32_t initialState) {
  return sim::Current().kernel().CreateBinary(initialState);
}

std::int32_t semTake(SEM_ID semaphore, std::int32_t timeout) {
  sim::Camera& camera = sim::Current();
  if (!camera.kernel().Owns(semaphore)) return -1;
  if (semaphore->full) {
    semaphore->full = false;
    return 0;
  }
  if (timeout == sim::kWaitForever) throw sim::Deadlock("semTake waits for ever on an empty semaphore");
  // Nothing else runs to give it: the wait simply times out.
  if (timeout > 0) camera.clock().AdvanceTicks(static_cast<std::uint64_t>(timeout));
  return -1;
}

std::int32_t semGive(SEM_ID semaphore) {
  if (!sim::Current().kernel().Owns(semaphore)) return -1;
  semaphore->full = true;
  return 0;
}

void taskDelay(std::int32_t ticks) {
  if (ticks > 0) sim::Current().clock().AdvanceTicks(static_cast<std::uint64_t>(ticks));
}

std::int32_t intLock() {
  sim::Camera& camera = sim::Current();
  ++camera.kernel().intLockCalls;
  const std::int32_t key = camera.interruptsLocked ? 1 : 0;
  camera.interruptsLocked = true;
  camera.flash().SetInterruptsLocked(true);  // the bus recording notes it beside each access
  return key;
}

void intUnlock(std::int32_t key) {
  sim::Camera& camera = sim::Current();
  camera.interruptsLocked = key != 0;
  camera.flash().SetInterruptsLocked(key != 0);
}

void wbflush() {
  ++sim::Current().kernel().wbflushCount;
}

std::int32_t nanosleep(const timespec* duration, timespec* remaining) {
  if (duration == nullptr || duration->tv_sec < 0 || duration->tv_nsec < 0 ||
      duration->tv_nsec >= 1'000'000'000) {
    return -1;
  }
  sim::Current().clock().AdvanceNanoseconds(static_cast<std::uint64_t>(duration->tv_sec) * 1'000'000'000ULL +
                                            static_cast<std::uint64_t>(duration->tv_nsec));
  if (remaining != nullptr) *remaining = timespec{0, 0};
  return 0;
}

void CMInit() {
  ++sim::Current().kernel().cmInitCalls;
}
void MPUSendLens(std::int32_t value) {
  sim::Current().kernel().lensValue = value;
}
void MPUSetLED(std::int32_t value) {
  sim::Current().ledValue = value;
}

}  // namespace vestra
