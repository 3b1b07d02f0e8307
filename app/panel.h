// The panel (screen) records, the switch between them and their dispatchers.
#pragma once

#include <cstdint>

struct PanelRec;
using PanelProc = void (*)(PanelRec* panel, std::int32_t a, std::int32_t b);

struct PanelRec {
  std::int16_t id;
  std::int16_t reserved1;
  std::int16_t reserved2;
  char label[3][32];
  PanelRec* self;
  PanelProc initProc;
  PanelProc drawProc;
  PanelProc idleProc;
  PanelProc eventProc;
  PanelProc exitProc;
  void* data;
};

// The nine screens, by their index in gPanel.
enum PanelId : std::int16_t {
  kSplashPanel = 0,
  kVersionPanel = 1,
  kLicencePanel = 2,
  kPowerWarningPanel = 3,
  kProgressPanel = 4,
  kSuccessPanel = 5,
  kCancelledPanel = 6,
  kBatteryPanel = 7,
  kErrorPanel = 8,
};
constexpr int kPanelCount = 9;
constexpr std::int16_t kNoPanel = -1;

extern PanelRec gPanel[kPanelCount];
extern std::int16_t gCurPanel;

void SetPanelDefaults(PanelRec* panel);
void AppSwapPanels(std::int16_t from, std::int16_t to);
void AppDraw();
void AppEvents(std::int32_t code, std::int32_t state);

// A check or the installation failed: the battery or error panel goes up at once, with the alert when the
// failure is the user's to act on (the installer's own failure is shown without it).
enum class FailureSound : std::uint8_t { kAlert, kSilent };
void ShowFailurePanel(PanelId panel, FailureSound sound);

void DefaultInitProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultDrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultIdleProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultEventProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultExitProc(PanelRec* panel, std::int32_t a, std::int32_t b);
