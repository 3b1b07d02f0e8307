// Fixed hardware, addressed by the camera's 32-bit bus addresses (uncached view).
#pragma once

#include <cstdint>

namespace vestra {

constexpr std::uint32_t kFlashBase = 0xBF000000;
constexpr std::uint32_t kFlashSize = 0x200000;
constexpr std::uint32_t kWriteEnableReg0 = 0xBE800000;
constexpr std::uint32_t kWriteEnableReg1 = 0xBE800004;

void store16(std::uint32_t address, std::uint16_t value);
std::uint16_t load16(std::uint32_t address);
std::uint32_t load32(std::uint32_t address);
// 32-bit read-modify-write: value = (value & andMask) | orMask.
void modify32(std::uint32_t address, std::uint32_t andMask, std::uint32_t orMask);

}  // namespace vestra
