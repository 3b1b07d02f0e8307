// The power manager: supply and battery from the profile; power-down ends the run.
#include "platform/power.h"

#include "sim/camera.h"

namespace vestra {

std::uint8_t PMExtPowerSupplied() {
  return sim::Current().profile().power.external ? 1 : 0;
}

std::uint8_t PMGetMainBatteryState(std::int32_t, std::int32_t) {
  sim::Camera& camera = sim::Current();
  // The battery may change during the run: the latest state whose time has come.
  std::uint8_t state = camera.profile().power.battery;
  std::uint64_t latest = 0;
  for (auto [at, s] : camera.profile().faults.batteryAt) {
    if (at <= camera.clock().Nanoseconds() && at >= latest) {
      state = s;
      latest = at;
    }
  }
  return state;
}

void PMPowerDown(std::int32_t) {
  sim::Current().poweredDown = true;
  // On the camera nothing runs after this; here the runner catches it above entry.
  throw sim::PoweredDown{};
}

}  // namespace vestra
