// The localised screen texts.
#pragma once

#include <cstddef>
#include <cstdint>

struct UIStringEntry {
  std::int16_t font;
  std::int16_t reserved;
  const char* text;
};

// The rows of both tables, named after their English text.
enum UIString : std::int16_t {
  kStrNone,
  kStrStart,
  kStrQuit,
  kStrYes,
  kStrNo,
  kStrAgree,
  kStrDecline,
  kStrUpdate,
  kStrAbort,
  kStrShutdown,
  kStrMakerName,
  kStrPresents,
  kStrPlatformName,
  kStrInstaller,
  kStrCopyright,
  kStrCurrentFirmware,
  kStrVersion,
  kStrUpdateToVersion,
  kStrEndUser,
  kStrLicenseAgreement,
  kStrByPressingAgree,
  kStrAgreeToFollow,
  kStrOfYourCameraSoftware,
  kStrLicenseAgreementEnd,
  kStrDoNotTurnOff,
  kStrCameraDuringThe,
  kStrUpdateProcess,
  kStrWarning,
  kStrKeepPowerOn,
  kStrUntilUpdateProcess,
  kStrIsComplete,
  kStrUpdatingFirmware,
  kStrUpdatingResource,
  kStrFirmwareUpdate,
  kStrSuccessful,
  kStrTurnPowerOff,
  kStrBeforeNextUse,
  kStrUpdateCancelled,
  kStrNoChangesHave,
  kStrBeenMade,
  kStrNotEnoughBattery,
  kStrToPerformUpdate,
  kStrCameraIncompatible,
  kStrWithFirmwareUpdate,
  kStrUpdateFiles,
  kStrAreCorrupt,
  kStrSomeUpdateFiles,
  kStrAreMissing,
};

constexpr int kUIStringCount = 48;
// The buffer a screen copies a row into: every row of either table, with its terminator, fits.
constexpr std::size_t kRowTextSize = 128;
static_assert(kStrAreMissing + 1 == kUIStringCount);
constexpr std::int16_t kFontStandard = 2;
constexpr std::int16_t kFontJapanese = 30;

extern const UIStringEntry gLUIEnglish[kUIStringCount];
extern const UIStringEntry gLUIJapanese[kUIStringCount];

std::int16_t GetRgnFontNum(std::int16_t region);
const char* GetRgnString(std::int16_t region, std::int16_t row, char* destination);
