// Power manager and LCD manager.
#pragma once

#include <cstdint>

namespace vestra {

std::uint8_t PMExtPowerSupplied();
std::uint8_t PMGetMainBatteryState(std::int32_t a, std::int32_t b);
void PMPowerDown(std::int32_t mode);  // does not come back on the camera

void LMSetupBuffers(void* lcdBase, void* drawBase);
std::uint8_t LMLCDOn();
void LMEnableLCDController(void* lcdBase, void* drawBase);
void LMSwitchBuffer(void* lcdBase);

}  // namespace vestra
