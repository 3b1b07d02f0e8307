// The event loop: polls the event queue for good.
#include "app/event_loop.h"

#include "app/entry.h"
#include "app/panel.h"
#include "app/screen.h"
#include "package/camera_info.h"
#include "platform/bytes.h"
#include "platform/events.h"
#include "services/power.h"

namespace {

constexpr std::uint32_t kNormalTimeout = 120;
constexpr std::uint32_t kShutdownNowTimeout = 5;

struct DebugBlink {
  std::uint32_t lastToggle = 0;
  std::uint8_t overlayOn = 1;

  // At most one toggle per clock second, so a held key blinks the overlay.
  void Toggle() {
    if (!InDebugMode()) return;
    if (vestra::CKReadRealTimeClock() == lastToggle) return;
    AppDrawDebugMessage(overlayOn);
    overlayOn = overlayOn ? 0 : 1;
    lastToggle = vestra::CKReadRealTimeClock();
  }
};

bool IsPanelKey(std::uint16_t code) {
  return (code >= 8 && code <= 14) || code == 16 || code == 17;
}

}  // namespace

void HandleEvent(std::uint16_t keyFilter) {
  const std::uint32_t timeout = gShutdownNow != 0 ? kShutdownNowTimeout : kNormalTimeout;
  std::uint32_t lastActivity = vestra::CKReadRealTimeClock();
  DebugBlink blink;

  for (;;) {
    vestra::EventRecord* record = nullptr;
    if (vestra::EMGetEvent(altAppID, &record) != 0) continue;

    const std::uint8_t* bytes = record->bytes;
    const std::uint16_t kind = vestra::LoadBE16(bytes + vestra::kEventKindOffset);
    if (kind == vestra::kEventKindKey) {
      const std::uint16_t state = vestra::LoadBE16(bytes + vestra::kEventKeyStateOffset);
      const std::uint16_t code = vestra::LoadBE16(bytes + vestra::kEventKeyCodeOffset);
      if (gShutdownNow == 0 && code != vestra::kKeyDebug) lastActivity = vestra::CKReadRealTimeClock();
      if (keyFilter == 0 || code == keyFilter) {
        if (code == vestra::kKeyPower) {
          if (state == 0) Shutdown();
        } else if (IsPanelKey(code)) {
          const std::int16_t before = gCurPanel;
          AppEvents(code, state);
          // Only a failed installation brings the error panel up from a key, and it may have run for minutes
          // inside this dispatch: the panel gets the whole time-out, counted from when it is shown.
          if (gCurPanel == kErrorPanel && before != kErrorPanel) lastActivity = vestra::CKReadRealTimeClock();
        } else if (code == vestra::kKeyDebug) {
          blink.Toggle();
        }
      }
    } else if (kind == vestra::kEventKindOther &&
               vestra::LoadBE32(bytes + vestra::kEventValueOffset) == vestra::kKeyDebug) {
      blink.Toggle();
    }
    vestra::EMReleaseEventRecord(record);

    if (vestra::CKReadRealTimeClock() - lastActivity > timeout) Shutdown();
  }
}
