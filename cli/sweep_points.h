// vupdate sweep: where to cut the power, and which faults the power-up after a cut meets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/sweep.h"
#include "sim/flash.h"

namespace vupdate::sweep {

// What the battery reads once a battery fault has come: anything but 7 is too low for the updater.
constexpr std::uint8_t kLowBattery = 3;

// Names the stretch of the run each operation belongs to, from the commands seen before it.
std::vector<Phase> Phases(const std::vector<sim::FlashBus::BusOp>& ops);

// The cut points `points` (checked by CheckPoints) asks for, with the card's part of the update after them.
std::vector<SweepPoint> ChoosePoints(const std::string& points, const std::vector<sim::FlashBus::BusOp>& ops,
                                     const std::vector<Phase>& phases);

// The cuts of the card's part of the update: before and between the file deletions, and at the log write.
std::vector<SweepPoint> CardPoints();

// From the erase command to the status read that saw the last word done, in the recorded run.
std::optional<BrickWindow> FindBrickWindow(const std::vector<sim::FlashBus::BusOp>& ops,
                                           const std::vector<std::uint64_t>& nanoseconds);

// A cut in every phase of an update that programs `words` words.
std::vector<CrossCut> CrossCuts(std::uint64_t words);

// What the uncut run showed that retry faults are placed by.
struct Landmarks {
  std::string codeFile;  // card path
  std::uint32_t headerSize = 0, trailerOffset = 0;
  std::uint64_t fileSize = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> codeReads;  // offset and length of each read
  std::uint64_t verificationReads = 0;                             // of them, those before the erase began
  std::uint64_t words = 0;                                         // word programs
};

// The faults of the kinds `kinds` (checked by CheckRetryFaults) names, each once.
std::vector<RetryFault> MakeRetryFaults(const std::string& kinds, const Landmarks& landmarks);

}  // namespace vupdate::sweep
