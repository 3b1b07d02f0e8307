// Battery check, power-down and sleeping.
#pragma once

#include <cstdint>

// 1 while the installation runs: powering down then would leave half an image in the flash.
extern std::uint8_t gUpdateInProgress;

std::uint8_t IsBatteryLevelSufficient();
void Shutdown();
void DelayTime(std::int16_t tenths);
