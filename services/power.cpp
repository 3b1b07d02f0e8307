// Battery check, the one way to power down, and sleeping in tenths of a second.
#include "services/power.h"

#include "app/panel.h"
#include "platform/kernel.h"
#include "platform/power.h"
#include "services/lcd.h"
#include "services/sound.h"

namespace {

constexpr std::uint8_t kBatteryEnough = 7;

}  // namespace

std::uint8_t IsBatteryLevelSufficient() {
  bool sufficient = vestra::PMExtPowerSupplied() != 0;
  if (!sufficient) sufficient = vestra::PMGetMainBatteryState(1, 1) == kBatteryEnough;

  if (vestra::LMLCDOn() == 0) vestra::LMEnableLCDController(PixelBase(gLCDPort), PixelBase(gDrawPort));
  if (sufficient) return 1;

  ShowFailurePanel(kBatteryPanel, FailureSound::kAlert);
  return 0;
}

void Shutdown() {
  if (gUpdateInProgress != 0) return;
  if (gSoundChannel != 0) {
    vestra::SNDKillSound(gSoundChannel);
    vestra::SNDCloseSoundChannel(gSoundChannel);
  }
  vestra::PMPowerDown(0);
}

void DelayTime(std::int16_t tenths) {
  const auto seconds = static_cast<std::int16_t>(tenths / 10);
  vestra::timespec duration{seconds, (tenths - 10 * seconds) * 100'000'000};
  vestra::nanosleep(&duration, nullptr);
}
