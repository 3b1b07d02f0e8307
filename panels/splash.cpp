// Panel 0, the splash screen, and the corner marks the later screens share.
#include <cstdio>

#include "app/entry.h"
#include "app/screen.h"
#include "app/strings.h"
#include "gx/coord.h"
#include "gx/shapes.h"
#include "gx/text.h"
#include "package/camera_info.h"
#include "panels/panel_draw.h"
#include "panels/panels.h"
#include "platform/graphics.h"

namespace {

// The maker's lines and the copyright are always the English ones in the standard font.
constexpr std::int16_t kEnglish = 1;

void DrawEnglishRow(std::int16_t h, std::int16_t v, std::int16_t row, const GXColor* colour) {
  char text[kRowTextSize];
  CopyRow(kEnglish, row, text, sizeof text);
  gxDrawShadowString(h, v, text, colour, &gBlack, 2);
}

}  // namespace

void Panel0DrawProc(PanelRec*, std::int32_t, std::int32_t) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, PanelHue::kGreen);

  vestra::GMTextFont(kFontStandard, 18);
  DrawEnglishRow(10, 30, kStrMakerName, &gWhite);
  DrawEnglishRow(25, 55, kStrPresents, &gYellow);

  vestra::Rect box{};
  vestra::GMSetRect(&box, 0, 0, 75, 75);
  vestra::GMOffsetRect(&box, S16(content.left + 65), S16(content.top + 50));
  gxDrawVestraLogo(&box);

  vestra::GMTextFont(kFontStandard, 24);
  DrawEnglishRow(130, S16(box.bottom - 10), kStrPlatformName, &gWhite);

  // "Installer" follows the camera's language; the version sits 5 pixels after it.
  vestra::GMTextFont(gFontNum, 24);
  char installer[kRowTextSize];
  CopyRow(CameraRegion(), kStrInstaller, installer, sizeof installer);
  gxDrawShadowString(130, 145, installer, &gYellow, &gBlack, 2);
  const std::int16_t w = gxStringWidth(installer);

  vestra::GMTextFont(kFontStandard, 24);
  char version[16];
  VersionToString(kInstallerVersion, version);
  gxDrawShadowString(S16(135 + w), 145, version, &gYellow, &gBlack, 2);

  vestra::GMTextFont(kFontStandard, 18);
  vestra::Rect copyright = content;
  copyright.top = S16(content.bottom - 35);
  char text[kRowTextSize];
  CopyRow(kEnglish, kStrCopyright, text, sizeof text);
  gxDrawShadowStringCentered(&copyright, 0, text, &gWhite, &gBlack, 2);
}

void DrawLogos(PanelRec*, std::uint8_t drawLogo, std::uint8_t drawIcon) {
  vestra::Rect content{};
  GetScreenRects(&content, nullptr, nullptr);
  if (drawLogo) {
    vestra::Rect box{};
    vestra::GMSetRect(&box, 0, 0, 45, 45);
    vestra::GMOffsetRect(&box, S16(content.left + 10), S16(content.top + 10));
    gxDrawVestraLogo(&box);
  }
  if (drawIcon && gLogoIcon != nullptr && *gLogoIcon != nullptr) {
    // Placed by its own bounds: whatever its size, its right edge ends 10 pixels inside the content area.
    vestra::Rect box = (*gLogoIcon)->iconPMap.bounds;
    vestra::GMOffsetRect(&box, S16(-box.left), S16(-box.top));
    vestra::GMOffsetRect(&box, S16(content.right - box.right - 10), S16(content.top + 10));
    vestra::GMPlotCIcon(&box, gLogoIcon);
  }
}
