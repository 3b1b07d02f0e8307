// Panel 3: the last warning before the flash ROM is rewritten.
#include "panels/panel_draw.h"
#include "panels/panels.h"

namespace {

// The heading first, then the three message rows.
constexpr PanelLine kWarningLines[] = {
    {30, 24, kStrWarning, &gWhite},
    {50, 18, kStrDoNotTurnOff, &gYellow},
    {30, 0, kStrCameraDuringThe, &gYellow},
    {30, 0, kStrUpdateProcess, &gYellow},
};

}  // namespace

void Panel3DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, PanelHue::kRed);
  DrawLogos(panel, 1, 1);
  DrawPanelLines(&content, kWarningLines);
}
