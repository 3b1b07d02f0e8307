// Shows the draw port: converts it into the LCD buffer not on show, then switches to that buffer.
#include "services/lcd.h"

#include "platform/graphics.h"
#include "platform/power.h"

void UpdateLCD() {
  if (gLCDPort == gLCDPort1) {
    gLCDPort = gLCDPort2;
  } else if (gLCDPort == gLCDPort2) {
    gLCDPort = gLCDPort1;
  }
  vestra::Rect source;
  vestra::Rect destination;
  vestra::GMSetRect(&source, 0, 0, vestra::kDrawPortWidth, vestra::kDrawPortHeight);
  vestra::GMSetRect(&destination, 36, 10, 324, 226);
  vestra::GMCopyBits(*gDrawPort->portPixMap, *gLCDPort->portPixMap, &source, &destination, 0, 0);
  vestra::LMSwitchBuffer(PixelBase(gLCDPort));
}
