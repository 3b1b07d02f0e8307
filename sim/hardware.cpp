// The hardware facade of the platform, on the simulated camera: every fixed address the module may reach
// belongs to the flash device or its write-enable registers; anything else is a bus error.
#include "platform/hardware.h"

#include "sim/camera.h"
#include "sim/flash.h"

namespace vestra {

namespace {

sim::FlashBus& Bus() {
  return sim::Current().flash();
}

}  // namespace

void store16(std::uint32_t address, std::uint16_t value) {
  Bus().Store16(address, value);
}

std::uint16_t load16(std::uint32_t address) {
  return Bus().Load16(address);
}

std::uint32_t load32(std::uint32_t address) {
  return Bus().Load32(address);
}

void modify32(std::uint32_t address, std::uint32_t andMask, std::uint32_t orMask) {
  Bus().Modify32(address, andMask, orMask);
}

}  // namespace vestra
