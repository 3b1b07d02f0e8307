// The power manager: supply and battery from the profile; power-down ends the run.
#include "platform/power.h"

#include "sim/camera.h"

namespace vestra {

std::uint8_t PMExtPowerSupplied() {
  return sim::Current().profile().power.external ? 1 : 0;
}

std::uint8_t PMGetMainBatteryState(std::int32_t, std::int32_t) {
  return sim::Current().profile().power.battery;
}

void PMPowerDown(std::int32_t) {
  sim::Current().poweredDown = true;
  // On the camera nothing runs after this; here the runner catches it above entry.
  throw sim::PoweredDown{};
}

}  // namespace vestra
