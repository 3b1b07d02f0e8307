// How long installing an image takes on a camera, by the flash device's timing and the updater's waits.
#pragma once

#include <cstdint>
#include <string>

#include "sim/profile.h"

namespace harness {

// A memory card of the camera's era reads about this fast; the simulated card takes no time at all, so the
// card reads are an addition to what a simulated run measures.
constexpr double kCardReadBytesPerSecond = 1'000'000;

struct InstallEstimate {
  bool deviceHangs = false;  // never_ready: the run ends on the error panel after the bounded erase wait
  std::uint32_t eraseWaits = 0;
  double eraseSeconds = 0;  // one full-chip erase, as the updater's one-second polls see it
  std::uint32_t words = 0;
  double programSeconds = 0;  // every word program
  double pauseSeconds = 0;    // the write-enable tick and the one-second pause before the success panel
  double cardSeconds = 0;     // reading the image off the card
  // Why the camera would end the installation on its error panel, with the log line it writes; empty when
  // the installation finishes.
  std::string failure;
  bool fails() const { return deviceHangs || !failure.empty(); }
  // What the simulated camera's clock shows from the progress screen to the success screen (a run of the
  // whole key script adds the key clicks before it), and with the card reads of a real card added.
  double deviceSeconds() const { return eraseSeconds + programSeconds + pauseSeconds; }
  double totalSeconds() const { return deviceSeconds() + cardSeconds; }
};

// For a flash that holds other firmware (one erase), an image of imageLength bytes. Timings beyond the
// updater's own waits make the estimate a failure.
InstallEstimate EstimateInstallation(const sim::FlashProfile& flash, std::uint32_t imageLength);

// One line for vupdate inspect, without a line break.
std::string InstallEstimateLine(const InstallEstimate& estimate);

}  // namespace harness
