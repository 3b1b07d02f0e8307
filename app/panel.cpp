// The panel table, the switch between panels and the two dispatchers.
#include "app/panel.h"

#include "app/screen.h"
#include "gx/color.h"
#include "platform/graphics.h"
#include "services/lcd.h"
#include "services/sound.h"

void DefaultInitProc(PanelRec*, std::int32_t, std::int32_t) {}
void DefaultIdleProc(PanelRec*, std::int32_t, std::int32_t) {}
void DefaultEventProc(PanelRec*, std::int32_t, std::int32_t) {}
void DefaultExitProc(PanelRec*, std::int32_t, std::int32_t) {}

void DefaultDrawProc(PanelRec*, std::int32_t, std::int32_t) {
  vestra::Rect content;
  GetScreenRects(&content, nullptr, nullptr);
  vestra::GMRGBForeColor(&gBlue);
  vestra::GMPaintRect(&content);
}

void SetPanelDefaults(PanelRec* panel) {
  panel->id = -1;
  panel->reserved1 = 0;
  panel->reserved2 = 0;
  for (auto& label : panel->label) label[0] = '\0';
  panel->self = panel;
  panel->initProc = DefaultInitProc;
  panel->drawProc = DefaultDrawProc;
  panel->eventProc = DefaultEventProc;
  panel->idleProc = DefaultIdleProc;
  panel->exitProc = DefaultExitProc;
  panel->data = nullptr;
}

void AppSwapPanels(std::int16_t from, std::int16_t to) {
  if (from != kNoPanel) gPanel[from].exitProc(&gPanel[from], 0, 0);
  gCurPanel = to;
  gPanel[to].initProc(&gPanel[to], 0, 0);
}

void AppDraw() {
  PanelRec* panel = &gPanel[gCurPanel];
  if (panel->drawProc != nullptr) panel->drawProc(panel, 0, 0);
  AppDrawBar(panel);
  UpdateLCD();
}

void AppEvents(std::int32_t code, std::int32_t state) {
  PanelRec* panel = &gPanel[gCurPanel];
  if (panel->eventProc != nullptr) panel->eventProc(panel, code, state);
}

void ShowFailurePanel(PanelId panel, FailureSound sound) {
  AppSwapPanels(gCurPanel, panel);
  AppDraw();
  if (sound == FailureSound::kAlert) PlaySound(kUIAlertSnd, 1);
}
