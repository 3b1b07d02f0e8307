// The module's entry point and its exported dispatchers.
#pragma once

#include <cstdint>

#include "platform/graphics.h"

extern std::uint8_t altAppID;
extern vestra::CIconHandle gLogoIcon;
extern std::uint8_t gResourcesInRAM;  // 1 once the resource block was copied out of the flash
extern std::int16_t gFontNum;

extern "C" [[noreturn]] void entry();
extern "C" void AppIdle();
extern "C" void AppExit();
void AppInit();
// Start-up up to the splash panel made current: resources, ports, platform services, identity and the panel
// table, before the start-up checks. entry() begins with it; a host may stop there to draw panels.
void StartUpToPanels();
