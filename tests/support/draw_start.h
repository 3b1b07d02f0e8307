// The module started as far as its first panel draw, on the current camera: ports, pen, identity, colours,
// font and panel table. For drawing tests and benchmarks that do not want the start-up checks.
#pragma once

#include "app/entry.h"
#include "app/module_state.h"
#include "package/camera_info.h"
#include "platform/graphics.h"

namespace vestra_test {

inline void StartModuleForDrawing() {
  ResetModuleGlobals();
  vestra::GMInitGraf(0);
  vestra::GMInitFonts();
  vestra::Rect bounds;
  vestra::GMSetRect(&bounds, 0, 0, 288, 216);
  vestra::GMNewGWorld(&gDrawPort, 32, &bounds, 0, 0, 0);
  vestra::GMSetRect(&bounds, 0, 0, 360, 287);
  vestra::GMNewGWorld(&gLCDPort1, 16, &bounds, 0, 0, 0);
  vestra::GMNewGWorld(&gLCDPort2, 16, &bounds, 0, 0, 0);
  gLCDPort = gLCDPort1;
  vestra::GMSetPort(gDrawPort);
  vestra::GMPenSize(1, 1);
  GetCameraInfo();
  AppInit();
}

}  // namespace vestra_test
