// The procedures of the nine screens.
#pragma once

#include <cstdint>

#include "app/panel.h"
#include "services/power.h"  // gUpdateInProgress, which the progress panel raises around the installation

void DrawLogos(PanelRec* panel, std::uint8_t drawLogo, std::uint8_t drawIcon);

void Panel0DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel0EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
void Panel1DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel1EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
void Panel2DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel2EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
void Panel3DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel3EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
void Panel4InitProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel4DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel4ExitProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel4DrawBar(PanelRec* panel, std::int32_t previous, std::int32_t value, std::int16_t maximum,
                   std::uint8_t updateLCD);
// The full bar stays on show this long (DelayTime's tenths of a second) before the success panel.
constexpr std::int16_t kSuccessPauseTenths = 10;
void Panel5DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel5EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
void Panel6DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel6EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
void Panel7DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel7EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
void Panel8DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b);
void Panel8EventProc(PanelRec* panel, std::int32_t code, std::int32_t state);
