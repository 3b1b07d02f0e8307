// The camera's flash ROM as the bus sees it: a 2 MiB, 16-bit NOR device with a command state machine,
// the two write-enable registers in front of it, and the clock that its operations take time on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/hardware.h"
#include "sim/clock.h"
#include "sim/flash_storage.h"
#include "sim/power_cut.h"
#include "sim/profile.h"

namespace sim {

constexpr std::uint32_t kFlashBusBase = vestra::kFlashBase;
constexpr std::uint32_t kFlashBusSize = vestra::kFlashSize;
constexpr std::uint32_t kFlashRegister0 = vestra::kWriteEnableReg0;
constexpr std::uint32_t kFlashRegister1 = vestra::kWriteEnableReg1;
constexpr std::uint32_t kWriteEnableBit = vestra::kWriteEnableBit;

// Status register bits.
constexpr auto kSrReady = static_cast<std::uint8_t>(vestra::kFlashStatusReady);
constexpr auto kSrEraseError = static_cast<std::uint8_t>(vestra::kFlashStatusEraseError);
constexpr auto kSrProgramError = static_cast<std::uint8_t>(vestra::kFlashStatusProgramError);
constexpr auto kSrVppLow = static_cast<std::uint8_t>(vestra::kFlashStatusVppLow);

// A status read while the device is busy stands for a poll loop spinning on the bus; one read lets at most
// this much of the remaining busy time pass, so short operations finish within a read or two and a device
// that never gets ready still moves the clock.
constexpr std::uint64_t kPollSliceNs = 1'000'000;

// An access the camera's bus would answer with an address error.
class BusError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sees what the device does with its cells, for a sweep that reasons about the state a cut leaves instead of
// running every cut: which cells each operation reads or is about to change, and where each bus operation
// begins when asked for (FlashBus::WatchEveryOp).
class FlashObserver {
 public:
  virtual ~FlashObserver() = default;
  // Bus operation `op` (from 1) begins; true cuts the power there, as a cut at that operation would.
  virtual bool OpBegins(std::uint64_t /*op*/) { return false; }
  // An array read of the cells, before their value leaves the device.
  virtual void CellsRead(std::uint32_t offset, std::uint32_t length) = 0;
  // Before and after the cells change. A program (and a torn one) clears bits of what they hold; an erase
  // sets them whatever they held.
  virtual void CellsChanging(std::uint32_t offset, std::uint32_t length, bool erase) = 0;
  virtual void CellsChanged(std::uint32_t offset, std::uint32_t length) = 0;
};

// What a cut as the current bus operation begins would leave: the instant of the cut, and the cells it would
// change ([offset, offset + length), as they are before it).
struct CutPreview {
  std::uint64_t nanoseconds = 0;
  std::uint32_t offset = 0;
  std::span<const std::uint8_t> before;
};

class FlashBus {
 public:
  enum class Mode { ReadArray, ReadStatus, ProgramSetup, EraseSetup, Busy };

  struct Counters {
    std::uint64_t erases = 0;       // full-chip erases started with writing enabled
    std::uint64_t blankChecks = 0;  // 32-bit array reads at the flash base (where every blank sweep starts)
    std::uint64_t wordsProgrammed = 0;  // word programs started with writing enabled
    std::uint64_t writeEnableViolations = 0;
    std::uint64_t statusReads = 0;  // reads answered with the status register
    std::uint64_t busOps = 0;       // stores, loads and register writes, the device's and the registers'
  };

  struct BusOp {
    enum class Kind { Store16, Load16, Load32, Modify32 };
    Kind kind;
    std::uint32_t address;
    std::uint32_t value;  // stored, loaded, or a register's new value
    bool interruptsLocked;
    bool operator==(const BusOp&) const = default;
  };

  // The cells are the backing file, mapped: a missing or empty file is created with the old firmware pattern,
  // a file of any other size than 2 MiB is refused. An empty path keeps them in memory only.
  FlashBus(const FlashProfile& profile, Clock& clock, const std::filesystem::path& backingFile);

  void Store16(std::uint32_t address, std::uint16_t value);
  std::uint16_t Load16(std::uint32_t address);
  std::uint32_t Load32(std::uint32_t address);
  void Modify32(std::uint32_t address, std::uint32_t andMask, std::uint32_t orMask);

  // The power fails as bus operation number `op` (counting from 1) begins: PowerCut is thrown there.
  void CutPowerAtOp(std::uint64_t op) { cutAtOp_ = op; }
  // A cut the profile asks for: at an operation number, a time, or a named point of the device's work.
  void SetCutPoint(const PowerCutPoint& point);
  // The power fails when the virtual clock reaches this time (checked at every bus operation).
  void CutPowerAt(std::uint64_t nanoseconds) { cutAtNs_ = nanoseconds; }
  // The supply goes away now (or at an earlier instant the clock has already passed): whatever the device was
  // doing stops where it is and the cells keep that: erased blocks, a partly erased one, a torn word.
  void PowerOff();
  void PowerOffAt(std::uint64_t nanoseconds);
  // Reads of these array bits come back inverted once the word holding them was programmed: [offset, mask]
  // over 32-bit big-endian words, like the stuck-bit knobs.
  void FlipReadBits(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& words);
  // Told before the operation itself, so a test or a sweep can cut there: the word programs started so far.
  std::uint64_t programsStarted() const { return counters_.wordsProgrammed; }

  // The observer sees every read and change of the cells from now on (nullptr: none).
  void Observe(FlashObserver* observer) { observer_ = observer; }
  // The observer's OpBegins is asked at every bus operation; for a run without a cut at an operation number.
  void WatchEveryOp() {
    if (cutAtOp_ != 0) throw std::logic_error("a cut at an operation number is set already");
    watchOps_ = true;
    cutAtOp_ = counters_.busOps + 1;
  }
  // Calls `look` with the cells as a cut now (at OpBegins) would leave them, and puts everything back after.
  void PreviewCut(const std::function<void(const CutPreview&)>& look);

  // The platform layer tells the bus whether the kernel's interrupt lock is held, for the recording.
  void SetInterruptsLocked(bool locked) { interruptsLocked_ = locked; }

  void Record(bool on) { recording_ = on; }
  const std::vector<BusOp>& recorded() const { return recorded_; }
  // The virtual time at which each recorded operation was seen, in the same order.
  const std::vector<std::uint64_t>& recordedNanoseconds() const { return recordedNs_; }
  void ClearRecording() {
    recorded_.clear();
    recordedNs_.clear();
  }

  Counters counters() const { return counters_; }
  Mode mode() const { return mode_; }
  std::uint8_t status() const {
    return static_cast<std::uint8_t>(errors_ | (mode_ == Mode::Busy ? 0 : kSrReady));
  }
  bool writeEnabled() const;
  std::uint32_t reg(int index) const { return index == 0 ? reg0_ : reg1_; }
  std::span<const std::uint8_t> contents() const { return {Cells(), kFlashBusSize}; }
  // Test set-up: places bytes into the array as if they had always been there.
  void Preload(std::uint32_t offset, std::span<const std::uint8_t> bytes);

  // The recognisable content of a flash that holds the old firmware, byte by byte, and a whole chip's worth
  // (or any stretch from offset 0) at the speed of memory.
  static std::uint8_t OldFirmwareByte(std::uint32_t offset);
  static void FillOldFirmware(std::span<std::uint8_t> cells);

 private:
  void BeginOp() {
    if (++counters_.busOps == cutAtOp_ || clock_.Nanoseconds() >= cutAtNs_) [[unlikely]]
      CutOrWatch();
  }
  void CutOrWatch();
  [[noreturn]] void CutNow();
  std::uint64_t CutInstant() const;
  // Every access settles the device first; only a busy one has anything to do, and nearly always that is a
  // word program on a sound chip, done once its time has come.
  void Settle() {
    if (mode_ == Mode::Busy) [[unlikely]] {
      if (pending_ == Pending::Program && plainPrograms_) {
        if (clock_.Nanoseconds() >= readyAtNs_) FinishPlainProgram();
      } else {
        SettleBusy();
      }
    }
  }
  // Programming clears the bits the data clears, nothing else to track.
  void FinishPlainProgram() {
    if (observer_ != nullptr) [[unlikely]] {
      FinishObservedProgram();
      return;
    }
    Cells()[pendingOffset_] &= static_cast<std::uint8_t>(pendingData_ >> 8);
    Cells()[pendingOffset_ + 1] &= static_cast<std::uint8_t>(pendingData_);
    pending_ = Pending::None;
    mode_ = Mode::ReadStatus;
  }
  void FinishObservedProgram();
  void ReadCells(std::uint32_t offset, std::uint32_t length) const {
    if (observer_ != nullptr) [[unlikely]]
      observer_->CellsRead(offset, length);
  }
  void SettleBusy();
  void SettleErase(std::uint64_t nowNs);
  void StartBusy(std::uint64_t durationNs);
  void Complete();
  void TearProgram(std::uint64_t nowNs);
  void Abort(std::uint64_t nowNs, std::uint8_t errors);
  std::uint16_t ArrayWord(std::uint32_t offset) const {
    return static_cast<std::uint16_t>((Cells()[offset] << 8) | Cells()[offset + 1]);
  }
  std::uint16_t FlipReadBits16(std::uint32_t offset, std::uint16_t value) const;
  std::uint8_t ReadStatusAndWait();
  void Command(std::uint32_t offset, std::uint16_t value);
  // Every access of a run comes through here: keep it to a subtraction and two compares.
  std::uint32_t FlashOffset(std::uint32_t address, std::uint32_t width, const char* what) const {
    const std::uint32_t offset = address - kFlashBusBase;  // below the window wraps to far above it
    if (offset > kFlashBusSize - width || (address & (width - 1)) != 0) [[unlikely]] {
      ThrowBusError(address, width, what);
    }
    return offset;
  }
  [[noreturn, gnu::cold, gnu::noinline]] static void ThrowBusError(std::uint32_t address, std::uint32_t width,
                                                                   const char* what);
  void Note(BusOp::Kind kind, std::uint32_t address, std::uint32_t value) {
    if (recording_) [[unlikely]]
      NoteRecorded(kind, address, value);
  }
  void NoteRecorded(BusOp::Kind kind, std::uint32_t address, std::uint32_t value);
  std::uint32_t Load32Slow(std::uint32_t address);
  void ApplyStuckBits();

  FlashProfile profile_;
  Clock& clock_;
  // A chip in memory is made when first touched: a camera that never reaches its flash never pays for it.
  std::uint8_t* Cells() const {
    if (cells_ == nullptr) [[unlikely]]
      cells_ = storage_.data();
    return cells_;
  }
  mutable FlashStorage storage_;
  mutable std::uint8_t* cells_ = nullptr;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> neverEraseBytes_;    // offset, bits held at 0
  std::vector<std::pair<std::uint32_t, std::uint8_t>> neverProgramBytes_;  // offset, bits held at 1

  Mode mode_ = Mode::ReadArray;
  std::uint8_t errors_ = 0;  // SR.5, SR.4, SR.3: stay until power-up
  enum class Pending { None, Program, Erase } pending_ = Pending::None;
  std::uint32_t pendingOffset_ = 0;
  std::uint16_t pendingData_ = 0;
  std::uint64_t readyAtNs_ = 0;
  std::uint64_t busySinceNs_ = 0;
  std::uint64_t busyNs_ = 0;
  std::uint32_t erasedUpTo_ = 0;  // of the running erase: every byte below is erased
  std::uint64_t eraseNs_;         // integer time: nothing on the per-word path touches floating point
  std::uint64_t programNs_;
  struct ReadFlip {
    std::uint32_t offset;  // of the byte
    std::uint8_t mask;
    bool armed;  // its word was programmed
  };
  std::vector<ReadFlip> readFlips_;
  bool plainPrograms_ = true;  // no bit held at 1 and no read flip to arm: a program only clears bits

  std::uint32_t reg0_ = 0;                // bit 3 clear: writing not yet enabled
  std::uint32_t reg1_ = kWriteEnableBit;  // bit 3 set: writing held off

  Counters counters_;
  std::uint64_t cutAtOp_ = 0;  // none: operation numbers start at 1
  std::uint64_t cutAtNs_ = ~std::uint64_t{0};
  PowerCutPoint cutPoint_;
  bool recording_ = false;
  bool interruptsLocked_ = false;
  bool watchOps_ = false;
  std::vector<BusOp> recorded_;
  std::vector<std::uint64_t> recordedNs_;
  FlashObserver* observer_ = nullptr;
  std::vector<std::uint8_t> previewBefore_;
};

// The two accesses every programmed word makes several times over: inline, so that the platform's bus calls
// reduce to them.
inline std::uint8_t FlashBus::ReadStatusAndWait() {
  ++counters_.statusReads;
  const std::uint8_t seen = status();
  if (mode_ == Mode::Busy) {
    const std::uint64_t now = clock_.Nanoseconds();
    clock_.AdvanceNanoseconds(std::min(readyAtNs_ - now, kPollSliceNs));
  }
  return seen;
}

inline void FlashBus::Store16(std::uint32_t address, std::uint16_t value) {
  BeginOp();
  const std::uint32_t offset = FlashOffset(address, 2, "16-bit store");
  Note(BusOp::Kind::Store16, address, value);
  Settle();
  Command(offset, value);
}

inline std::uint16_t FlashBus::Load16(std::uint32_t address) {
  BeginOp();
  const std::uint32_t offset = FlashOffset(address, 2, "16-bit load");
  Settle();
  std::uint16_t value;
  if (mode_ == Mode::ReadArray) {
    ReadCells(offset, 2);
    value = ArrayWord(offset);
    if (!readFlips_.empty()) [[unlikely]]
      value = FlipReadBits16(offset, value);
  } else {
    value = ReadStatusAndWait();
  }
  Note(BusOp::Kind::Load16, address, value);
  return value;
}

// Reads of the array, a 32-bit word at a time, are the blank check's: the array path is inline.
inline std::uint32_t FlashBus::Load32(std::uint32_t address) {
  const std::uint32_t offset = address - kFlashBusBase;
  if (offset > kFlashBusSize - 4 || (address & 3) != 0 || mode_ != Mode::ReadArray || !readFlips_.empty() ||
      recording_ || observer_ != nullptr) [[unlikely]] {
    return Load32Slow(address);
  }
  BeginOp();
  if (offset == 0) ++counters_.blankChecks;
  const std::uint8_t* cells = Cells() + offset;
  return (std::uint32_t{cells[0]} << 24) | (std::uint32_t{cells[1]} << 16) | (std::uint32_t{cells[2]} << 8) |
         cells[3];
}

}  // namespace sim
