// Panel 1: the camera's firmware and the version the update would install.
#include <cstdio>
#include <cstring>

#include "app/entry.h"
#include "app/strings.h"
#include "gx/coord.h"
#include "gx/text.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "panels/panel_draw.h"
#include "panels/panels.h"
#include "platform/graphics.h"

namespace {

// A 31-character debug text, " ?" and the terminator.
constexpr std::size_t kVersionTextSize = 40;

// A label and a number centred as one line, without the centring's 5-pixel correction: the
// label in (labelFont, size), the number in the standard font of the same size.
void DrawVersionLine(const vestra::Rect* textRect, std::int16_t baseline, std::int16_t labelFont,
                     std::int16_t size, const char* label, const char* version, const GXColor* colour) {
  vestra::GMTextFont(labelFont, size);
  const std::int16_t w1 = gxStringWidth(label);
  vestra::GMTextFont(kFontStandard, size);
  const std::int16_t w2 = gxStringWidth(version);
  const int h = textRect->left + ((textRect->right - textRect->left - (w1 + w2)) >> 1);
  const std::int16_t v = S16(textRect->top + baseline);
  vestra::GMTextFont(labelFont, size);
  gxDrawShadowString(S16(h), v, label, colour, &gBlack, 2);
  vestra::GMTextFont(kFontStandard, size);
  gxDrawShadowString(S16(h + w1), v, version, colour, &gBlack, 2);
}

}  // namespace

void Panel1DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, PanelHue::kBlue);
  DrawLogos(panel, 1, 1);

  const std::int16_t region = CameraRegion();
  char label[kRowTextSize];
  char version[kVersionTextSize];

  vestra::GMTextFont(gFontNum, 24);
  vestra::Rect textRect = content;
  textRect.bottom = S16(textRect.top + 30);
  vestra::GMOffsetRect(&textRect, 0, 27);
  CopyRow(region, kStrCurrentFirmware, label, sizeof label);
  gxDrawShadowStringCentered(&textRect, 0, label, &gYellow, &gBlack, 2);

  // The names are fixed fields; never read past them even if one lost its terminator.
  vestra::GMTextFont(kFontStandard, 18);
  char name[sizeof gCam.vendorName + 1];
  vestra::GMOffsetRect(&textRect, 0, 35);
  std::snprintf(name, sizeof name, "%.*s", static_cast<int>(sizeof gCam.vendorName), gCam.vendorName);
  gxDrawShadowStringCentered(&textRect, 0, name, &gWhite, &gBlack, 2);
  vestra::GMOffsetRect(&textRect, 0, 28);
  std::snprintf(name, sizeof name, "%.*s", static_cast<int>(sizeof gCam.productName), gCam.productName);
  gxDrawShadowStringCentered(&textRect, 0, name, &gWhite, &gBlack, 2);

  CopyRow(region, kStrVersion, label, sizeof label);
  VersionToString(gCam.fwVersion, version);
  vestra::GMOffsetRect(&textRect, 0, 30);
  DrawVersionLine(&textRect, 20, gFontNum, 24, label, version, &gWhite);

  // In debug mode the line names the debug text, with an English label whatever the region.
  std::int16_t labelFont = gFontNum;
  if (InDebugMode()) {
    std::snprintf(label, sizeof label, "%s", "Install ");
    std::snprintf(version, sizeof version, "%.*s", static_cast<int>(sizeof gCam.debugText - 1),
                  gCam.debugText);
    labelFont = kFontStandard;
  } else {
    CopyRow(region, kStrUpdateToVersion, label, sizeof label);
    VersionToString(gFile[0].fwVersion, version);
  }
  if (gCam.regionCode == 1) {
    const std::size_t used = std::strlen(version);
    std::snprintf(version + used, sizeof version - used, "%s", " ?");
  }
  vestra::GMOffsetRect(&textRect, 0, 40);
  DrawVersionLine(&textRect, 16, labelFont, 18, label, version, &gYellow);
}
