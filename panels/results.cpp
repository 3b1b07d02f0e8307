// Panels 5 to 8: the screens every path through the updater ends on.
#include "package/file_set.h"
#include "panels/panel_draw.h"
#include "panels/panels.h"

namespace {

constexpr PanelLine kSuccessLines[] = {
    {50, 18, kStrFirmwareUpdate, &gWhite},
    {30, 0, kStrSuccessful, &gWhite},
    {40, 18, kStrTurnPowerOff, &gYellow},
    {30, 0, kStrBeforeNextUse, &gYellow},
};

constexpr PanelLine kCancelledLines[] = {
    {70, 24, kStrUpdateCancelled, &gYellow},
    {40, 18, kStrNoChangesHave, &gWhite},
    {30, 0, kStrBeenMade, &gWhite},
};

constexpr PanelLine kBatteryLines[] = {
    {70, 24, kStrUpdateCancelled, &gWhite},
    {40, 18, kStrNotEnoughBattery, &gWhite},
    {30, 0, kStrToPerformUpdate, &gWhite},
};

// The first of the two message rows that gErrCode chooses.
std::int16_t ErrorMessageRow(std::int16_t errCode) {
  switch (errCode) {
    case kErrMissing:
      return kStrSomeUpdateFiles;
    case kErrCorrupt:
      return kStrUpdateFiles;
    default:
      return kStrCameraIncompatible;
  }
}

void DrawResultPanel(PanelRec* panel, PanelHue hue, std::uint8_t drawIcon, std::span<const PanelLine> lines) {
  const vestra::Rect content = BeginPanelDraw();
  DrawPanelBackground(&content, hue);
  DrawLogos(panel, 1, drawIcon);
  DrawPanelLines(&content, lines);
}

}  // namespace

void Panel5DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  DrawResultPanel(panel, PanelHue::kGreen, 1, kSuccessLines);
}

void Panel6DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  DrawResultPanel(panel, PanelHue::kGreen, 0, kCancelledLines);
}

void Panel7DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  DrawResultPanel(panel, PanelHue::kRed, 0, kBatteryLines);
}

void Panel8DrawProc(PanelRec* panel, std::int32_t, std::int32_t) {
  const std::int16_t row = ErrorMessageRow(gErrCode);
  const PanelLine lines[] = {
      {70, 24, kStrUpdateCancelled, &gWhite},
      {40, 18, row, &gWhite},
      {30, 0, static_cast<std::int16_t>(row + 1), &gWhite},
  };
  DrawResultPanel(panel, PanelHue::kRed, 0, lines);
}
