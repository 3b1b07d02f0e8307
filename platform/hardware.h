// Fixed hardware, addressed by the camera's 32-bit bus addresses (uncached view).
#pragma once

#include <cstdint>

namespace vestra {

constexpr std::uint32_t kFlashBase = 0xBF000000;
constexpr std::uint32_t kFlashSize = 0x200000;
constexpr std::uint32_t kWriteEnableReg0 = 0xBE800000;
constexpr std::uint32_t kWriteEnableReg1 = 0xBE800004;
// Writing reaches the flash while this bit is set in the first register and clear in the second.
constexpr std::uint32_t kWriteEnableBit = 0x00000008;

// The flash device's command words; it decodes the low byte.
constexpr std::uint16_t kFlashReadArray = 0x00FF;
constexpr std::uint16_t kFlashReadStatus = 0x0070;
constexpr std::uint16_t kFlashClearStatus = 0x0050;
constexpr std::uint16_t kFlashWordProgram = 0x0040;
constexpr std::uint16_t kFlashWordProgramAlt = 0x0010;
constexpr std::uint16_t kFlashChipErase = 0x0030;
constexpr std::uint16_t kFlashConfirm = 0x00D0;

// Bits of its status register, read at any address while it is not in read-array mode.
constexpr std::uint16_t kFlashStatusReady = 0x0080;  // the last operation has finished
constexpr std::uint16_t kFlashStatusEraseError = 0x0020;
constexpr std::uint16_t kFlashStatusProgramError = 0x0010;
constexpr std::uint16_t kFlashStatusVppLow = 0x0008;  // a program or erase met the write-enable gate closed

void store16(std::uint32_t address, std::uint16_t value);
std::uint16_t load16(std::uint32_t address);
std::uint32_t load32(std::uint32_t address);
// 32-bit read-modify-write: value = (value & andMask) | orMask.
void modify32(std::uint32_t address, std::uint32_t andMask, std::uint32_t orMask);

}  // namespace vestra
