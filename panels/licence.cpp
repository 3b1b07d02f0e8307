// Panel 2: the click-through licence agreement.
#include "panels/panel_draw.h"
#include "panels/panels.h"

namespace {

constexpr PanelLine kLicenceLines[] = {
    {15, 24, 18, &gWhite},                                              // "End User"
    {28, 0, 19, &gWhite},                                               // "License Agreement"
    {40, 18, 20, &gWhite},                                              // "By pressing AGREE you"
    {25, 0, 21, &gWhite},  {25, 0, 22, &gWhite}, {25, 0, 23, &gWhite},  // "license agreement."
};

}  // namespace

void Panel2DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, PanelHue::kGrey);
  DrawLogos(panel, 1, 1);
  DrawPanelLines(&content, kLicenceLines);
}
