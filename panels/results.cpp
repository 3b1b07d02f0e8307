// Panels 5 to 8: the screens every path through the updater ends on.
#include "package/file_set.h"
#include "panels/panel_draw.h"
#include "panels/panels.h"

namespace {

constexpr PanelLine kSuccessLines[] = {
    {50, 18, 33, &gWhite},   // "Firmware update"
    {30, 0, 34, &gWhite},    // "successful!"
    {40, 18, 35, &gYellow},  // "Turn power Off"
    {30, 0, 36, &gYellow},   // "before next use."
};

constexpr PanelLine kCancelledLines[] = {
    {70, 24, 37, &gYellow},  // "Update process cancelled."
    {40, 18, 38, &gWhite},   // "No changes have"
    {30, 0, 39, &gWhite},    // "been made."
};

constexpr PanelLine kBatteryLines[] = {
    {70, 24, 37, &gWhite},  // "Update process cancelled."
    {40, 18, 40, &gWhite},  // "Not enough battery power"
    {30, 0, 41, &gWhite},   // "to perform update."
};

// The first of the two message rows that gErrCode chooses.
std::int16_t ErrorMessageRow(std::int16_t errCode) {
  switch (errCode) {
    case kErrMissing:
      return 46;  // "Some update files" / "are missing."
    case kErrCorrupt:
      return 44;  // "Update files" / "are corrupt."
    default:
      return 42;  // "Camera incompatible" / "with firmware update."
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
      {70, 24, 37, &gWhite},  // "Update process cancelled."
      {40, 18, row, &gWhite},
      {30, 0, static_cast<std::int16_t>(row + 1), &gWhite},
  };
  DrawResultPanel(panel, PanelHue::kRed, 0, lines);
}
