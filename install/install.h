// The installation run and its progress accounting.
#pragma once

#include <cstdint>

extern std::uint32_t gProgressBarMax;
extern std::uint32_t gProgressBarValue;

// Blank checks and full-chip erases before the updater gives up on a flash that will not read blank.
constexpr std::int16_t kEraseAttempts = 4;

void CalcProgressBarMax();
void UpdateProgressInfo();
std::int16_t InstallFiles();
