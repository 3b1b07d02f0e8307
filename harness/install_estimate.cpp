#include "harness/install_estimate.h"

#include <cmath>
#include <cstdio>

namespace harness {

namespace {

// The updater's waits, in seconds (100 ticks a second).
constexpr double kEraseWait = 1.0;     // between status polls of the erase
constexpr double kStatusPoll = 0.001;  // the device's answer to a busy poll lets at most this much pass
constexpr double kEnableDelay = 0.01;
constexpr double kSuccessPause = 1.0;
constexpr std::uint32_t kEraseWaitLimit = 600;

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
  e.eraseWaits = static_cast<std::uint32_t>(std::ceil(flash.eraseSeconds / period));
  e.eraseSeconds = e.eraseWaits * period;
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
  } else {
    std::snprintf(line, sizeof line,
                  "installation: about %.1f s (erase %.1f s, programming %.1f s for %u words, "
                  "card reads %.1f s at %.0f kB/s, pauses %.2f s)",
                  e.totalSeconds(), e.eraseSeconds, e.programSeconds, static_cast<unsigned>(e.words),
                  e.cardSeconds, kCardReadBytesPerSecond / 1000, e.pauseSeconds);
  }
  return line;
}

}  // namespace harness
