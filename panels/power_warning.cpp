// Panel 3: the last warning before the flash ROM is rewritten.
#include "panels/panel_draw.h"
#include "panels/panels.h"

namespace {

// The heading first, then the three message rows.
constexpr PanelLine kWarningLines[] = {
    {30, 24, 27, &gWhite},   // "WARNING"
    {50, 18, 24, &gYellow},  // "Do not turn off your"
    {30, 0, 25, &gYellow},   // "camera during the"
    {30, 0, 26, &gYellow},   // "update process!"
};

}  // namespace

void Panel3DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, PanelHue::kRed);
  DrawLogos(panel, 1, 1);
  DrawPanelLines(&content, kWarningLines);
}
