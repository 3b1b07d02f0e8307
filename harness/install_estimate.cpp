#include "harness/install_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "install/flash_rom.h"
#include "install/install.h"
#include "panels/panels.h"
#include "platform/kernel.h"

namespace harness {

namespace {

// The updater's waits, in seconds.
constexpr double kTick = 1.0 / vestra::kTicksPerSecond;
constexpr double kEraseWait = kEraseWaitTicks * kTick;  // between status polls of the erase
constexpr double kStatusPoll = 0.001;   // the device's answer to a busy poll lets at most this much pass
constexpr double kEnableDelay = kTick;  // between opening the two write-enable gates
constexpr double kSuccessPause = kSuccessPauseTenths / 10.0;
constexpr std::uint32_t kEraseWaitLimit = kEraseWaits;
// A word program spins on the status without sleeping, so its bound is a number of polls.
constexpr double kWordWaitLimitUs = kWordReadyPolls * kStatusPoll * 1e6;

}  // namespace

InstallEstimate EstimateInstallation(const sim::FlashProfile& flash, std::uint32_t imageLength) {
  InstallEstimate e;
  e.words = (imageLength + 1) / 2;
  e.cardSeconds = imageLength / kCardReadBytesPerSecond;
  if (flash.neverReady) {
    // The erase never reports ready: the updater gives up after its bounded wait.
    e.deviceHangs = true;
    e.eraseWaits = kEraseWaitLimit;
    e.eraseSeconds = kEraseWaitLimit * (kEraseWait + kStatusPoll);
    e.words = 0;
    e.cardSeconds = 0;
    e.pauseSeconds = kEnableDelay;
    return e;
  }
  // Each poll costs one status read, then the updater sleeps a second: ready at the first poll past the end.
  const double period = kEraseWait + kStatusPoll;
  const double waits = std::ceil(flash.eraseSeconds / period);
  char why[200];
  if (waits > kEraseWaitLimit) {
    std::snprintf(why, sizeof why,
                  "a full-chip erase takes %.1f s, but the updater waits at most %u s for it: "
                  "\"Flash device not ready.\"",
                  flash.eraseSeconds, static_cast<unsigned>(kEraseWaitLimit));
    e.failure = why;
  } else if (!flash.neverErase.empty()) {
    std::snprintf(why, sizeof why,
                  "bits that never erase: the flash never reads blank, the updater gives up after %d erases: "
                  "\"Could not format rom.\"",
                  static_cast<int>(kEraseAttempts));
    e.failure = why;
  } else if (flash.wordProgramUs > kWordWaitLimitUs) {
    std::snprintf(
        why, sizeof why,
        "a word program takes %.0f us, but the updater polls at most %u times (about %.0f s) for it: "
        "\"Flash device not ready.\"",
        flash.wordProgramUs, static_cast<unsigned>(kWordReadyPolls), kWordWaitLimitUs * 1e-6);
    e.failure = why;
  }
  e.eraseWaits = static_cast<std::uint32_t>(std::min<double>(waits, kEraseWaitLimit));
  e.eraseSeconds = e.eraseWaits * period;
  if (!e.failure.empty()) return e;
  e.programSeconds = e.words * flash.wordProgramUs * 1e-6;
  e.pauseSeconds = kEnableDelay + kSuccessPause;
  return e;
}

std::string InstallEstimateLine(const InstallEstimate& e) {
  char line[256];
  if (e.deviceHangs) {
    std::snprintf(
        line, sizeof line,
        "installation: the flash device never reports ready; the camera gives up after about %.0f s",
        e.totalSeconds());
  } else if (!e.failure.empty()) {
    std::snprintf(line, sizeof line, "installation: would fail: %s", e.failure.c_str());
  } else {
    std::snprintf(
        line, sizeof line,
        "installation: about %.1f s on the camera's clock from the progress screen to the success "
        "screen (erase %.1f s, programming %.1f s for %u words, pauses %.2f s); a real card's reads "
        "add about %.1f s at %.0f kB/s",
        e.deviceSeconds(), e.eraseSeconds, e.programSeconds, static_cast<unsigned>(e.words), e.pauseSeconds,
        e.cardSeconds, kCardReadBytesPerSecond / 1000);
  }
  return line;
}

}  // namespace harness
