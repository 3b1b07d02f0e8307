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

constexpr int kPanelCount = 9;

extern PanelRec gPanel[kPanelCount];
extern std::int16_t gCurPanel;

void SetPanelDefaults(PanelRec* panel);
void AppSwapPanels(std::int16_t from, std::int16_t to);
void AppDraw();
void AppEvents(std::int32_t code, std::int32_t state);

void DefaultInitProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultDrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultIdleProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultEventProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void DefaultExitProc(PanelRec* panel, std::int32_t a, std::int32_t b);
