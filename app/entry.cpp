// Start-up: everything the updater needs, the start-up checks, then the event loop for good.
#include "app/entry.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "app/event_loop.h"
#include "app/panel.h"
#include "app/strings.h"
#include "gx/color.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "package/verify.h"
#include "panels/panels.h"
#include "platform/events.h"
#include "platform/power.h"
#include "platform/resources.h"
#include "services/lcd.h"
#include "services/power.h"
#include "services/sound.h"

namespace {

constexpr std::int16_t kLogoIconId = -8888;
constexpr std::uint32_t kCaptureBufferSize = 0x200000;
constexpr std::uint32_t kLCDBlackPair = 0x10801080;  // two black pixels: Y, C, Y, C
constexpr std::uint32_t kLCDWords = vestra::kLCDWidth * vestra::kLCDHeight / 2;
constexpr std::int32_t kLEDReady = 512;

struct PanelSetup {
  PanelId id;
  std::int16_t labels[3];  // string rows; 0: no label
  PanelProc init, draw, event, exit;
};

// Procedures left null keep their defaults.
constexpr PanelSetup kPanelSetup[] = {
    {kSplashPanel, {kStrStart, kStrNone, kStrAbort}, nullptr, Panel0DrawProc, Panel0EventProc, nullptr},
    {kVersionPanel, {kStrYes, kStrNone, kStrNo}, nullptr, Panel1DrawProc, Panel1EventProc, nullptr},
    {kLicencePanel, {kStrAgree, kStrNone, kStrDecline}, nullptr, Panel2DrawProc, Panel2EventProc, nullptr},
    {kPowerWarningPanel,
     {kStrNone, kStrUpdate, kStrAbort},
     nullptr,
     Panel3DrawProc,
     Panel3EventProc,
     nullptr},
    {kProgressPanel, {kStrNone, kStrNone, kStrNone}, Panel4InitProc, Panel4DrawProc, nullptr, Panel4ExitProc},
    {kSuccessPanel, {kStrNone, kStrNone, kStrShutdown}, nullptr, Panel5DrawProc, Panel5EventProc, nullptr},
    {kCancelledPanel, {kStrNone, kStrNone, kStrAbort}, nullptr, Panel6DrawProc, Panel6EventProc, nullptr},
    {kBatteryPanel, {kStrNone, kStrNone, kStrAbort}, nullptr, Panel7DrawProc, Panel7EventProc, nullptr},
    {kErrorPanel, {kStrNone, kStrNone, kStrAbort}, nullptr, Panel8DrawProc, Panel8EventProc, nullptr},
};

// Every panel set up exactly once, whatever the order of the rows.
constexpr bool EachPanelOnce() {
  bool seen[kPanelCount] = {};
  for (const PanelSetup& setup : kPanelSetup) {
    if (setup.id < 0 || setup.id >= kPanelCount || seen[setup.id]) return false;
    seen[setup.id] = true;
  }
  return std::size(kPanelSetup) == kPanelCount;
}
static_assert(EachPanelOnce());

// The firmware in flash is about to be erased: keep the resources in RAM. Without memory for the copy the
// platform's block stays where it is.
void MoveResourcesToRAM() {
  void* block = vestra::gRMSystemControlBlock.resourceBlock;
  const std::uint32_t size = static_cast<const vestra::RMResourceBlockHeader*>(block)->size;
  void* copy = vestra::malloc(size);
  if (copy == nullptr) return;
  std::memcpy(copy, block, size);
  vestra::gRMSystemControlBlock.resourceBlock = copy;
  vestra::kRMFlashBaseAddress = copy;
  gResourcesInRAM = 1;
}

void ClearLCDPorts() {
  // One port after the other: a single stream of stores, which the compiler can widen.
  std::fill_n(static_cast<std::uint32_t*>(PixelBase(gLCDPort1)), kLCDWords, kLCDBlackPair);
  std::fill_n(static_cast<std::uint32_t*>(PixelBase(gLCDPort2)), kLCDWords, kLCDBlackPair);
}

bool StartupChecksPass() {
  if (IsBatteryLevelSufficient() == 0) return false;
  if (GetInstallerFilenames() != 0) return false;
  return VerifyInstallerFiles() == 0;
}

}  // namespace

void AppInit() {
  if (gLogoIcon == nullptr) gLogoIcon = vestra::GMGetCIcon(kLogoIconId);
  gxFillNamedColors();
  const std::int16_t region = CameraRegion();
  gFontNum = GetRgnFontNum(region);

  for (const PanelSetup& setup : kPanelSetup) {
    PanelRec* panel = &gPanel[setup.id];
    SetPanelDefaults(panel);
    panel->id = setup.id;
    if (setup.init != nullptr) panel->initProc = setup.init;
    if (setup.draw != nullptr) panel->drawProc = setup.draw;
    if (setup.event != nullptr) panel->eventProc = setup.event;
    if (setup.exit != nullptr) panel->exitProc = setup.exit;
    for (int slot = 0; slot < 3; ++slot) {
      if (setup.labels[slot] == 0) continue;
      const char* text = GetRgnString(region, setup.labels[slot], nullptr);
      std::strncpy(panel->label[slot], text, sizeof panel->label[slot] - 1);
      panel->label[slot][sizeof panel->label[slot] - 1] = '\0';
    }
  }
  AppSwapPanels(-1, 0);
}

void StartUpToPanels() {
  const vestra::RGBColor black{128, 16, 128};
  MoveResourcesToRAM();
  vestra::CMInit();
  vestra::MMCaptureBufferInit(kCaptureBufferSize);
  vestra::GMInitGraf(0);
  vestra::GMInitFonts();

  vestra::Rect bounds;
  vestra::GMSetRect(&bounds, 0, 0, vestra::kDrawPortWidth, vestra::kDrawPortHeight);
  vestra::GMNewGWorld(&gDrawPort, 32, &bounds, 0, 0, 0);
  vestra::GMSetPort(gDrawPort);
  vestra::GMRGBBackColor(&black);
  vestra::GMEraseRect(&bounds);

  vestra::GMSetRect(&bounds, 0, 0, vestra::kLCDWidth, vestra::kLCDHeight);
  vestra::GMNewGWorld(&gLCDPort1, 16, &bounds, 0, 0, 0);
  vestra::GMNewGWorld(&gLCDPort2, 16, &bounds, 0, 0, 0);
  gLCDPort = gLCDPort1;
  ClearLCDPorts();

  vestra::free(vestra::g_splash_buffer);
  vestra::GMSetPort(gDrawPort);
  vestra::GMPenSize(1, 1);
  vestra::AMGetSelfAppID(&altAppID);
  vestra::LMSetupBuffers(PixelBase(gLCDPort), PixelBase(gDrawPort));
  vestra::EMOpen(altAppID, 0);
  vestra::MPUSendLens(1);
  semIdDelete = vestra::semBCreate(0, 1);
  if (vestra::SNDOpenSoundChannel(&gSoundChannel) == 0) SetupSound();

  GetCameraInfo();
  AppInit();
}

extern "C" void entry() {
  StartUpToPanels();
  if (StartupChecksPass()) {
    AppDraw();
    PlaySound(kUIIntroSnd, 0);
  }
  vestra::MPUSetLED(kLEDReady);
  HandleEvent(0);
}

extern "C" void AppIdle() {
  PanelRec* panel = &gPanel[gCurPanel];
  if (panel->idleProc != nullptr) panel->idleProc(panel, 0, 0);
}

extern "C" void AppExit() {
  PanelRec* panel = &gPanel[gCurPanel];
  if (panel->exitProc != nullptr) panel->exitProc(panel, 0, 0);
}
