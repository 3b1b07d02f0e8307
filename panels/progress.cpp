// Panel 4: the screen behind which the installation runs, with its progress bar.
#include <array>
#include <new>

#include "app/entry.h"
#include "app/panel.h"
#include "app/screen.h"
#include "gx/color.h"
#include "gx/coord.h"
#include "gx/shapes.h"
#include "install/install.h"
#include "panels/panel_draw.h"
#include "panels/panels.h"
#include "platform/graphics.h"
#include "platform/resources.h"
#include "services/lcd.h"
#include "services/power.h"
#include "services/sound.h"

namespace {

static_assert(sizeof(vestra::Rect) == 8, "the bar rectangle is allocated as 8 bytes");

constexpr std::int16_t kTroughLowerRows = 7;
constexpr std::int16_t kFillUpperRows = 5;

// A width scaled by value / maximum, truncated; a bar without steps has nothing to fill.
std::int16_t Scaled(std::int16_t width, std::int32_t value, std::int16_t maximum) {
  if (maximum <= 0) return 0;
  return S16(std::int32_t{width} * value / maximum);
}

}  // namespace

void Panel4InitProc(PanelRec* panel, std::int32_t, std::int32_t) {
  void* memory = nullptr;
  vestra::MMNewPtr(sizeof(vestra::Rect), &memory);
  panel->data = memory;
  if (memory == nullptr) {
    Shutdown();
    return;
  }
  gProgressBarValue = 0;

  vestra::Rect content{};
  GetScreenRects(&content, nullptr, nullptr);
  vestra::Rect bar = content;
  bar.top = S16(content.bottom - 37);
  bar.bottom = S16(content.bottom - 12);
  vestra::GMInsetRect(&bar, 60, 0);
  new (memory) vestra::Rect(bar);

  CalcProgressBarMax();
  AppDraw();
  gUpdateInProgress = 1;
  if (InstallFiles() != 0) {
    // The error panel is on show; its key and the idle time-out must be able to power down.
    gUpdateInProgress = 0;
    return;
  }
  UpdateProgressInfo();
  DelayTime(kSuccessPauseTenths);
  AppSwapPanels(gCurPanel, kSuccessPanel);
  AppDraw();
  PlaySound(kUIIntroSnd, 0);
  gUpdateInProgress = 0;
}

void Panel4ExitProc(PanelRec* panel, std::int32_t, std::int32_t) {
  if (panel->data != nullptr) vestra::MMDisposePtr(panel->data);
  panel->data = nullptr;
}

void Panel4DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, PanelHue::kMagenta);
  DrawLogos(panel, 1, 1);
  vestra::GMTextFont(gFontNum, 18);
  const std::array<PanelLine, 4> lines{{
      {25, 0, kStrKeepPowerOn, &gWhite},
      {30, 0, kStrUntilUpdateProcess, &gWhite},
      {30, 0, kStrIsComplete, &gWhite},
      {40, 0, kStrUpdatingFirmware, &gYellow},
  }};
  DrawPanelLines(&content, lines);
  Panel4DrawBar(panel, -1, static_cast<std::int32_t>(gProgressBarValue),
                static_cast<std::int16_t>(gProgressBarMax & 0xFFFF), 0);
}

void Panel4DrawBar(PanelRec* panel, std::int32_t previous, std::int32_t value, std::int16_t maximum,
                   std::uint8_t updateLCD) {
  if (panel->data == nullptr) return;  // no bar rectangle: the panel is not set up
  const vestra::Rect bar = *static_cast<const vestra::Rect*>(panel->data);
  if (maximum < value) value = maximum;
  if (maximum < previous) previous = maximum;

  const std::int16_t width = S16(bar.right - bar.left - 3);
  // Redrawing copies the whole picture to the LCD: only when the fill grows by a pixel.
  if (previous >= 0 && Scaled(width, value, maximum) == Scaled(width, previous, maximum)) return;

  vestra::GMRGBForeColor(&gWhite);
  vestra::GMFrameRect(&bar);

  vestra::Rect inner = bar;
  vestra::GMInsetRect(&inner, 1, 1);
  inner.right = S16(inner.right - 1);
  inner.bottom = S16(inner.bottom - 1);
  // The trough is darkest at its edges and brightest where the two halves meet.
  vestra::Rect upper = inner;
  upper.bottom = S16(inner.bottom - kTroughLowerRows);
  gxDrawGradientRect(&upper, 128, 128, 128, 0, 1);
  vestra::Rect lower = inner;
  lower.top = upper.bottom;
  gxDrawGradientRect(&lower, 128, 128, 128, 0, 0);

  vestra::GMInsetRect(&inner, 0, 3);
  vestra::Rect fill = inner;
  fill.right = S16(inner.left + Scaled(S16(inner.right - inner.left), value, maximum));
  if (value > 0) {
    vestra::Rect shine = fill;
    shine.bottom = S16(fill.top + kFillUpperRows);
    gxDrawGradientRect(&shine, 0, 128, 0, 0, 1);
    vestra::Rect body = fill;
    body.top = shine.bottom;
    gxDrawGradientRect(&body, 0, 128, 0, 0, 0);
    // The leading edge of the fill; a full bar has none.
    vestra::GMRGBForeColor(&gBlack);
    if (value < maximum) gxDrawLine(fill.right, S16(inner.top + 1), fill.right, S16(inner.bottom - 2));
    if (value < maximum - 1) {
      gxDrawLine(S16(fill.right + 1), S16(inner.top + 2), S16(fill.right + 1), S16(inner.bottom - 3));
    }
  }
  if (updateLCD) UpdateLCD();
}
