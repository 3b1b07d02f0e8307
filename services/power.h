// Battery check, power-down and sleeping.
#pragma once

#include <cstdint>

std::uint8_t IsBatteryLevelSufficient();
void Shutdown();
void DelayTime(std::int16_t tenths);
