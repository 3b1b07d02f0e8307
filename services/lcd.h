// The draw port and the two LCD ports, and showing the draw port on the LCD.
#pragma once

#include "platform/graphics.h"

extern vestra::GWorldPtr gDrawPort;
extern vestra::GWorldPtr gLCDPort;  // the one on show: gLCDPort1 or gLCDPort2
extern vestra::GWorldPtr gLCDPort1;
extern vestra::GWorldPtr gLCDPort2;

// The pixel base address of a port: its pixel map's first word.
inline void* PixelBase(vestra::GWorldPtr port) {
  return (*port->portPixMap)->baseAddr;
}

void UpdateLCD();
