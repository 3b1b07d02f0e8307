#include "harness/names.h"

#include <array>
#include <utility>

#include "app/panel.h"
#include "package/file_format.h"
#include "package/file_set.h"
#include "services/sound.h"

namespace harness {
namespace {

template <std::size_t N>
std::string_view Lookup(const std::array<std::pair<int, std::string_view>, N>& table, int key) {
  for (const auto& [k, name] : table)
    if (k == key) return name;
  return "unknown";
}

constexpr std::array<std::pair<int, std::string_view>, 10> kPanels{{
    {kNoPanel, "none"},
    {kSplashPanel, "splash"},
    {kVersionPanel, "version"},
    {kLicencePanel, "licence"},
    {kPowerWarningPanel, "warning"},
    {kProgressPanel, "progress"},
    {kSuccessPanel, "success"},
    {kCancelledPanel, "cancelled"},
    {kBatteryPanel, "battery"},
    {kErrorPanel, "error"},
}};

constexpr std::array<std::pair<int, std::string_view>, 5> kErrorCodes{{
    {0, "accepted"},
    {kErrIncompatible, "does not fit"},
    {kErrCorrupt, "damaged"},
    {kFileUnreadable, "unreadable"},
    {kErrMissing, "missing"},
}};

constexpr std::array<std::pair<int, std::string_view>, 10> kSounds{{
    {kUIIntroSnd, "intro"},
    {kUIShutterSnd, "shutter"},
    {kUISoftkeySnd, "softkey"},
    {kUIMenuSnd, "menu"},
    {kUIBurstSnd, "burst"},
    {kUIArrowSnd, "arrow"},
    {kUIRepeatSnd, "repeat"},
    {kUITypeSnd, "type"},
    {kUIEraseSnd, "erase"},
    {kUIAlertSnd, "alert"},
}};

// The updater lights the LED once, when its first panel is up; the camera starts it dark.
constexpr std::array<std::pair<int, std::string_view>, 2> kLed{{{-1, "off"}, {512, "ready"}}};

}  // namespace

std::string_view PanelName(int panel) {
  return Lookup(kPanels, panel);
}
std::string_view ErrorCodeName(int code) {
  return Lookup(kErrorCodes, code);
}
std::string_view SoundName(int id) {
  return Lookup(kSounds, id);
}
std::string_view LedName(int value) {
  return Lookup(kLed, value);
}

}  // namespace harness
