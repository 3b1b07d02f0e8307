// The installation run and its progress accounting.
#pragma once

#include <cstdint>

extern std::uint32_t gProgressBarMax;
extern std::uint32_t gProgressBarValue;

void CalcProgressBarMax();
void UpdateProgressInfo();
std::int16_t InstallFiles();
