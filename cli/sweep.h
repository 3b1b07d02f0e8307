// vupdate sweep: the update run once to learn its bus operations, then once per cut point with the power cut
// there and again from the card and flash as the cut left them; with retry faults, that power-up meets one
// more fault and a third, clean one follows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "harness/flash_contents.h"
#include "sim/profile.h"

namespace vupdate {

using FlashAfterCut = harness::FlashContents;

// What the camera held at one moment: the flash, and how many of the update files were on the card.
struct Held {
  FlashAfterCut flash = FlashAfterCut::kOld;
  std::uint32_t filesLeft = 0;
};

// The stretches of an update, in the order they come.
enum class Phase : std::uint8_t {
  kBeforeErase,
  kErase,
  kBlankCheck,
  kProgramming,
  kReadBack,
  kAfterProgramming,
  kDeletingFiles,
  kWritingLog,
};
const char* PhaseName(Phase phase);

// A power-up after a cut as the cross-check compares it: where it ended and how it got there.
struct PowerUpTrace {
  int panel = -1, errCode = 0;
  std::uint64_t busOps = 0, nanoseconds = 0;
  bool powerCut = false;
  bool operator==(const PowerUpTrace&) const = default;
};

struct SweepPoint {
  sim::PowerCutPoint cut;
  Phase phase;
  // Filled by the sweep.
  bool cutHappened = false;
  std::uint64_t busOp = 0;  // where the cut fell
  double seconds = 0;
  FlashAfterCut flash = FlashAfterCut::kOld;
  std::uint32_t filesLeft = 0;  // of the update files
  bool retryRestored = false;   // the retry left the new image in the flash
  bool falseSuccess = false;    // a success panel over a flash that does not hold the new image
  // A retry that meets the profile's [faults.retry] is followed by a clean power-up.
  bool cleanRun = false;
  Held afterRetry, afterClean;
  PowerUpTrace retryTrace, cleanTrace;
  bool Lost(std::uint32_t updateFiles) const {
    if (!cutHappened) return falseSuccess;  // the update ended before this point: no cut to judge
    if (falseSuccess ||
        (flash != FlashAfterCut::kOld && flash != FlashAfterCut::kNew && filesLeft < updateFiles))
      return true;
    // A faulty retry may leave anything the clean power-up after it can still install from.
    return cleanRun ? afterClean.flash != FlashAfterCut::kNew : !retryRestored;
  }
};

// One fault met by the power-up after a cut; only the fields of its kind are used.
enum class RetryFaultKind : std::uint8_t { kRead, kParam, kBattery, kCard, kCut };
struct RetryFault {
  enum class When : std::uint8_t { kPowerOn, kUpdateKey, kVerification, kErase, kProgramming };
  RetryFaultKind kind = RetryFaultKind::kRead;
  std::string name;              // as the output shows it
  sim::CardByteFault readError;  // kRead: a read that fails once
  std::string parameter;         // kParam: unreadable during the retry
  When when = When::kPowerOn;    // kBattery (reads low from then on), kCard (pulled then)
  sim::PowerCutPoint cut;        // kCut: the second cut
};

// A cut that retry faults are crossed with.
struct CrossCut {
  std::string name;  // as the output shows it
  sim::PowerCutPoint cut;
  bool reached = false;  // the first power-up got that far
  Held afterCut;
};

// A cut, then a retry meeting one fault, then a clean power-up.
struct RetryOutcome {
  std::uint32_t cut = 0;    // into SweepResult::crossCuts
  std::uint32_t fault = 0;  // into SweepResult::retryFaults
  Held afterRetry, afterClean;
  int retryPanel = -1, cleanPanel = -1;
  bool retryCut = false;      // the retry's power went away too
  bool falseSuccess = false;  // a success panel over a flash without the new image, in either power-up
  // Whatever the retry left, the clean power-up ends with the new image: it was still in the flash, or the
  // update was still on the card.
  bool Lost() const { return falseSuccess || afterClean.flash != FlashAfterCut::kNew; }
};

// A planted fault in the class key of the reduced sweep, for the cross-check's own test: the key leaves this
// out.
enum class KeyFault : std::uint8_t { kNone, kCard, kFlashBeyondFirstBlock };

struct SweepOptions {
  std::filesystem::path card;
  sim::Profile profile;
  std::filesystem::path flash;  // read only: a missing or empty file is the old firmware
  std::string keys = "left,left,left,centre";
  std::optional<std::string> retryKeys;  // the power-up after a cut; none: keys
  std::string points = "default";        // default, all, or a number of evenly spaced operations
  std::string retryFaults = "none";      // none, default, or a comma list of read, param, battery, card, cut
  unsigned jobs = 1;
  bool progress = false;  // a bar on standard error
  // --points all classes the cut states and runs one of each class (cli/sweep_classes.h); false runs every
  // point.
  bool reduce = true;
  bool verifyClasses = false;  // runs every point too and compares the verdicts point by point
  KeyFault keyFault = KeyFault::kNone;
};

struct BrickWindow {
  std::uint64_t firstOp = 0, lastOp = 0;  // the erase command, the last word's completion
  double firstSeconds = 0, lastSeconds = 0;
};

struct SweepResult {
  std::string error;  // the sweep could not run
  // The uncut run: what it chose and whether it installed the file's image. When it did not, nothing is
  // swept and the rest stays empty.
  bool installed = false;
  std::string codeFile;  // card path
  int panel = -1;        // where the uncut run ended
  std::string firstLogLine;
  std::uint64_t operations = 0;
  double seconds = 0;
  std::uint32_t updateFiles = 0;
  std::optional<BrickWindow> brickWindow;
  std::vector<SweepPoint> points;
  std::vector<CrossCut> crossCuts;
  std::vector<RetryFault> retryFaults;
  std::vector<RetryOutcome> retryOutcomes;
  // --points all, reduced: a verdict for every bus operation, in runs of operations that share it.
  struct PointRange {
    SweepPoint point;  // the first operation's
    std::uint64_t lastOp = 0;
    std::uint32_t cutClass = 0;
  };
  std::vector<PointRange> ranges;
  struct ClassSummary {
    std::uint64_t founder = 0, points = 0;
    std::size_t dependencies = 0;  // cells of the flash the power-ups read of the cut state
    bool shareable = true;
  };
  std::vector<ClassSummary> classes;
  // --points all with retry faults, reduced: for each fault, every bus operation's cut followed by a retry
  // meeting that fault and a clean power-up.
  struct FaultSweep {
    std::vector<PointRange> ranges;
    std::vector<ClassSummary> classes;
  };
  std::vector<FaultSweep> faultSweeps;  // by RetryFault index
  // --verify-classes with retry faults: cut, retry with the fault and clean power-up run for real.
  struct FaultCheck {
    SweepPoint point;
    std::uint32_t fault = 0;
  };
  std::vector<FaultCheck> faultChecks;
  // --verify-classes: the points run both ways, and where the verdicts differ.
  std::uint64_t verified = 0;
  std::vector<std::string> disagreements;
  bool lost = false;  // some cut lost the update or something was reported as success that was not
};

// Whether the texts name points or retry fault kinds; the message otherwise.
std::optional<std::string> CheckPoints(const std::string& points);
std::optional<std::string> CheckRetryFaults(const std::string& kinds);

// The retry fault kinds' names, as --retry-faults takes them.
const char* KindName(RetryFaultKind kind);

SweepResult RunSweep(const SweepOptions& options);

}  // namespace vupdate
