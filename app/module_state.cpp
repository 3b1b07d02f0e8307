// What loading the module does to its data: every global back to its initial value.
#include "app/module_state.h"

#include <cstring>
#include <initializer_list>

#include "app/entry.h"
#include "app/event_loop.h"
#include "app/panel.h"
#include "gx/color.h"
#include "install/install.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "panels/panels.h"
#include "services/log.h"
#include "services/sound.h"

void ResetModuleGlobals() {
  gDrawPort = gLCDPort = gLCDPort1 = gLCDPort2 = nullptr;
  altAppID = 0;
  semIdDelete = nullptr;
  gLogoIcon = nullptr;
  gFontNum = 0;
  gShutdownNow = 0;

  std::memset(gPanel, 0, sizeof gPanel);
  gCurPanel = -1;
  for (GXColor* colour : {&gWhite, &gBlack, &gRed, &gGreen, &gBlue, &gMagenta, &gYellow, &gCyan, &gOrange,
                          &gMidBlue, &gDkBlue, &gGray10, &gGray8, &gGray4, &gGray2, &gGray1, &gGray0}) {
    *colour = GXColor{};
  }

  gCam = CameraInfo{};
  for (CameraInfo& record : gFile) record = CameraInfo{};
  gErrCode = kErrNone;
  gStrLogFileName = gStrFontFileName = gStrCamFileName = nullptr;
  gStrCodeFileName[0] = '\0';
  message[0] = '\0';

  gSoundChannel = 0;
  for (std::uint8_t** slot : {&AlertSndRsrcPtr, &EraseSndRsrcPtr, &IntroSndRsrcPtr, &BurstSndRsrcPtr,
                              &RepeatSndRsrcPtr, &ArrowSndRsrcPtr, &SoftkeySndRsrcPtr, &TypeSndRsrcPtr}) {
    *slot = nullptr;
  }

  gProgressBarMax = 0;
  gProgressBarValue = 0;
  gUpdateInProgress = 0;
}
