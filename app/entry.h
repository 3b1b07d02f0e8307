// The module's entry point and its exported dispatchers.
#pragma once

#include <cstdint>

#include "platform/graphics.h"
#include "platform/kernel.h"

extern vestra::GWorldPtr gDrawPort;
extern vestra::GWorldPtr gLCDPort;
extern vestra::GWorldPtr gLCDPort1;
extern vestra::GWorldPtr gLCDPort2;
extern std::uint8_t altAppID;
extern vestra::SEM_ID semIdDelete;
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

// The pixel base address of a port: its pixel map's first word.
inline void* PixelBase(vestra::GWorldPtr port) {
  return (*port->portPixMap)->baseAddr;
}
