// What the soft keys do on each screen. Every action needs state 0 and starts with the click.
#include "app/panel.h"
#include "panels/panels.h"
#include "platform/events.h"
#include "services/power.h"
#include "services/sound.h"

namespace {

void Click() {
  PlaySound(kUISoftkeySnd, 1);
}

void GoTo(PanelId panel) {
  Click();
  AppSwapPanels(gCurPanel, panel);
  AppDraw();
}

// Panels whose left key goes on and whose right key goes elsewhere.
void TwoWay(std::int32_t code, std::int32_t state, PanelId left, PanelId right) {
  if (state != 0) return;
  if (code == vestra::kKeyLeft) GoTo(left);
  if (code == vestra::kKeyRight) GoTo(right);
}

// The result panels: the right key powers down, nothing else does anything.
void PowerOff(std::int32_t code, std::int32_t state) {
  if (state != 0 || code != vestra::kKeyRight) return;
  Click();
  Shutdown();
}

}  // namespace

void Panel0EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  TwoWay(code, state, kVersionPanel, kCancelledPanel);
}
void Panel1EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  TwoWay(code, state, kLicencePanel, kSplashPanel);
}
void Panel2EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  TwoWay(code, state, kPowerWarningPanel, kCancelledPanel);
}

void Panel3EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  if (state != 0) return;
  if (code == vestra::kKeyCentre) {
    Click();
    // The progress panel draws itself and runs the whole installation from its init procedure.
    if (IsBatteryLevelSufficient() != 0) AppSwapPanels(gCurPanel, kProgressPanel);
  } else if (code == vestra::kKeyRight) {
    GoTo(kVersionPanel);
  }
}

void Panel5EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  PowerOff(code, state);
}
void Panel6EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  PowerOff(code, state);
}
void Panel7EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  PowerOff(code, state);
}
void Panel8EventProc(PanelRec*, std::int32_t code, std::int32_t state) {
  PowerOff(code, state);
}
