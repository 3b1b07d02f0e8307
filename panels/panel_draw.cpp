// What the screens' draw procedures share.
#include "panels/panel_draw.h"

#include <cstdio>

#include "app/entry.h"
#include "app/screen.h"
#include "app/strings.h"
#include "gx/shapes.h"
#include "gx/text.h"
#include "package/camera_info.h"
#include "platform/graphics.h"

namespace {

constexpr std::int16_t kCellSize = 60;
constexpr std::int16_t kTextRectHeight = 30;

}  // namespace

vestra::Rect BeginPanelDraw() {
  vestra::Rect content{};
  GetScreenRects(&content, nullptr, nullptr);
  vestra::GMTextMode(1);
  return content;
}

void DrawPanelBackground(const vestra::Rect* content, PanelHue hue) {
  const bool red = hue == PanelHue::kRed || hue == PanelHue::kGrey || hue == PanelHue::kMagenta;
  const bool green = hue == PanelHue::kGreen || hue == PanelHue::kGrey;
  const bool blue = hue == PanelHue::kBlue || hue == PanelHue::kGrey || hue == PanelHue::kMagenta;
  const auto make = [&](std::uint16_t level, GXColor* out) {
    gxMakeYCC(red ? level : 0, green ? level : 0, blue ? level : 0, out);
  };
  GXColor fillA{}, fillB{}, frameA{}, frameB{};
  make(30, &fillA);
  make(60, &fillB);
  make(70, &frameA);
  make(20, &frameB);
  gxDrawCheckeredtRect(content, kCellSize, &fillA, &fillB, &frameA, &frameB);
}

void CopyRow(std::int16_t region, std::int16_t row, char* text, std::size_t size) {
  const char* row_text = GetRgnString(region, row, nullptr);
  std::snprintf(text, size, "%s", row_text != nullptr ? row_text : "");
}

void DrawPanelLines(const vestra::Rect* content, std::span<const PanelLine> lines) {
  vestra::Rect textRect = *content;
  textRect.bottom = static_cast<std::int16_t>(textRect.top + kTextRectHeight);
  char text[kRowTextSize];
  for (const PanelLine& line : lines) {
    if (line.size != 0) vestra::GMTextFont(gFontNum, line.size);
    vestra::GMOffsetRect(&textRect, 0, line.step);
    CopyRow(CameraRegion(), line.row, text, sizeof text);
    gxDrawShadowStringCentered(&textRect, 0, text, line.colour, &gBlack, 2);
  }
}
