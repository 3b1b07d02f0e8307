// A flash device that does at once what it is told, with nothing around it: no clock, no power cuts, no
// counters, no recording, always ready. Linked into vupdate in place of the simulated device's bus (the
// linker takes these definitions and never pulls the simulator's), it measures what a run costs apart from
// the device: the floor under the simulator's bus. Not a camera: never use it for anything but timing.
#include <array>
#include <cstdint>

#include "platform/hardware.h"

namespace vestra {
namespace {

constexpr std::uint16_t kReady = 0x0080;

enum class Mode { Array, Status, Program, EraseSetup };

Mode gMode = Mode::Array;
std::array<std::uint8_t, kFlashSize> gCells;  // zero until erased: a blank check before the erase fails
std::array<std::uint32_t, 2> gRegisters{};

std::uint32_t Offset(std::uint32_t address, std::uint32_t width) {
  return (address - kFlashBase) & (kFlashSize - width);  // aligned and inside, whatever the module asks
}

std::uint16_t Word(std::uint32_t offset) {
  return static_cast<std::uint16_t>((gCells[offset] << 8) | gCells[offset + 1]);
}

}  // namespace

void store16(std::uint32_t address, std::uint16_t value) {
  const std::uint32_t offset = Offset(address, 2);
  if (gMode == Mode::Program) {
    gCells[offset] &= static_cast<std::uint8_t>(value >> 8);
    gCells[offset + 1] &= static_cast<std::uint8_t>(value);
    gMode = Mode::Status;
    return;
  }
  const auto command = static_cast<std::uint8_t>(value);
  if (gMode == Mode::EraseSetup && command == 0xD0) {
    gCells.fill(0xFF);
    gMode = Mode::Status;
    return;
  }
  gMode = command == 0xFF                      ? Mode::Array
          : command == 0x40 || command == 0x10 ? Mode::Program
          : command == 0x30                    ? Mode::EraseSetup
                                               : Mode::Status;
}

std::uint16_t load16(std::uint32_t address) {
  return gMode == Mode::Array ? Word(Offset(address, 2)) : kReady;
}

std::uint32_t load32(std::uint32_t address) {
  if (address == kWriteEnableReg0 || address == kWriteEnableReg1) return gRegisters[(address >> 2) & 1];
  if (gMode != Mode::Array) return (std::uint32_t{kReady} << 16) | kReady;
  const std::uint32_t offset = Offset(address, 4);
  return (std::uint32_t{Word(offset)} << 16) | Word(offset + 2);
}

void modify32(std::uint32_t address, std::uint32_t andMask, std::uint32_t orMask) {
  std::uint32_t& reg = gRegisters[(address >> 2) & 1];
  reg = (reg & andMask) | orMask;
}

}  // namespace vestra
