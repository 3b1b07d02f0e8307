// Panel 2: the click-through licence agreement.
#include "panels/panel_draw.h"
#include "panels/panels.h"

namespace {

constexpr PanelLine kLicenceLines[] = {
    {15, 24, kStrEndUser, &gWhite},
    {28, 0, kStrLicenseAgreement, &gWhite},
    {40, 18, kStrByPressingAgree, &gWhite},
    {25, 0, kStrAgreeToFollow, &gWhite},
    {25, 0, kStrOfYourCameraSoftware, &gWhite},
    {25, 0, kStrLicenseAgreementEnd, &gWhite},
};

}  // namespace

void Panel2DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, PanelHue::kGrey);
  DrawLogos(panel, 1, 1);
  DrawPanelLines(&content, kLicenceLines);
}
