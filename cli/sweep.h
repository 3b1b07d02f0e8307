// vupdate sweep: the update run once to learn its bus operations, then once per cut point with the power cut
// there and again from the card and flash as the cut left them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/profile.h"

namespace vupdate {

enum class FlashAfterCut : std::uint8_t { kOld, kErased, kPartial, kNew };

struct SweepPoint {
  sim::PowerCutPoint cut;
  std::string phase;
  // Filled by the sweep.
  bool cutHappened = false;
  std::uint64_t busOp = 0;  // where the cut fell
  double seconds = 0;
  FlashAfterCut flash = FlashAfterCut::kOld;
  std::uint32_t filesLeft = 0;  // of the update files
  bool retryRestored = false;   // the retry left the new image in the flash
  bool falseSuccess = false;    // a success panel over a flash that does not hold the new image
  bool Lost(std::uint32_t updateFiles) const {
    if (!cutHappened) return falseSuccess;  // the update ended before this point: no cut to judge
    return !retryRestored || falseSuccess ||
           (flash != FlashAfterCut::kOld && flash != FlashAfterCut::kNew && filesLeft < updateFiles);
  }
};

struct SweepOptions {
  std::filesystem::path card;
  sim::Profile profile;
  std::filesystem::path flash;  // read only: a missing file is the old firmware
  std::string keys = "left,left,left,centre";
  std::string points = "default";  // default, all, or a number of evenly spaced operations
  unsigned jobs = 1;
  bool progress = false;  // a bar on standard error
};

struct SweepResult {
  std::string error;  // the sweep could not run
  std::uint64_t operations = 0;
  double seconds = 0;
  std::uint32_t updateFiles = 0;
  std::vector<SweepPoint> points;
  bool lost = false;  // some cut lost the update or something was reported as success that was not
};

SweepResult RunSweep(const SweepOptions& options);

}  // namespace vupdate
