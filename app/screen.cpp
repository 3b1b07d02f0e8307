// Screen rectangles, the soft-key bar and the debug overlay.
#include "app/screen.h"

#include "app/entry.h"
#include "gx/color.h"
#include "gx/text.h"
#include "platform/graphics.h"
#include "services/lcd.h"

namespace {

constexpr vestra::Rect kScreen{0, 0, vestra::kDrawPortHeight, vestra::kDrawPortWidth};
constexpr std::int16_t kBarHeight = 20;
constexpr vestra::Rect kContent{kScreen.top, kScreen.left, kScreen.bottom - kBarHeight, kScreen.right};
constexpr vestra::Rect kBar{kScreen.bottom - kBarHeight, kScreen.left, kScreen.bottom, kScreen.right};

constexpr std::int16_t kBarFontSize = 18;
constexpr std::int16_t kLabelMargin = 10;
constexpr std::int16_t kLabelBaseline = 16;

constexpr const char* kDebugText = "INTERNAL USE ONLY";

}  // namespace

void GetScreenRects(vestra::Rect* content, vestra::Rect* bar, vestra::Rect* screen) {
  if (content != nullptr) *content = kContent;
  if (bar != nullptr) *bar = kBar;
  if (screen != nullptr) *screen = kScreen;
}

void AppDrawBar(PanelRec* panel) {
  vestra::Rect bar;
  GetScreenRects(nullptr, &bar, nullptr);
  vestra::GMRGBBackColor(&gBlack);
  vestra::GMEraseRect(&bar);
  vestra::GMTextFont(gFontNum, kBarFontSize);
  vestra::GMRGBForeColor(&gWhite);

  for (int index = 0; index < 3; ++index) {
    const char* label = panel->label[index];
    if (label[0] == '\0') continue;
    const int w = gxStringWidth(label);
    int h = 0;
    if (index == 0) {
      h = bar.left + kLabelMargin;
    } else if (index == 1) {
      h = bar.left + ((bar.right - bar.left - w) >> 1);
    } else {
      h = bar.right - kLabelMargin - w;
    }
    gxDrawString(static_cast<std::int16_t>(h), static_cast<std::int16_t>(bar.top + kLabelBaseline), label);
  }
}

void AppDrawDebugMessage(std::uint8_t show) {
  PanelRec* panel = &gPanel[gCurPanel];
  if (panel->drawProc != nullptr) panel->drawProc(panel, 0, 0);
  AppDrawBar(panel);

  if (show != 0) {
    vestra::Rect content;
    GetScreenRects(&content, nullptr, nullptr);
    vestra::GMTextFont(2, 18);
    vestra::GMTextMode(1);
    const auto w = static_cast<std::int16_t>(gxStringWidth(kDebugText) + 20);
    vestra::Rect box;
    vestra::GMSetRect(&box, 0, 0, w, 24);
    vestra::GMOffsetRect(
        &box, static_cast<std::int16_t>(content.left + ((content.right - content.left - w) >> 1)), 10);
    vestra::GMRGBForeColor(&gRed);
    vestra::GMPaintRect(&box);
    vestra::GMRGBForeColor(&gWhite);
    vestra::GMFrameRect(&box);
    gxDrawShadowStringCentered(&box, 18, kDebugText, &gWhite, &gBlack, 2);
  }
  UpdateLCD();
}
