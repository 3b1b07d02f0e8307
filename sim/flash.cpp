#include "sim/flash.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace sim {

namespace {

constexpr std::uint8_t kCmdReadArray = vestra::kFlashReadArray;
constexpr std::uint8_t kCmdReadStatus = vestra::kFlashReadStatus;
constexpr std::uint8_t kCmdWordProgram = vestra::kFlashWordProgram;
constexpr std::uint8_t kCmdWordProgramAlt = vestra::kFlashWordProgramAlt;
constexpr std::uint8_t kCmdChipErase = vestra::kFlashChipErase;
constexpr std::uint8_t kCmdConfirm = vestra::kFlashConfirm;
constexpr std::uint8_t kCmdClearStatus = vestra::kFlashClearStatus;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Spreads [offset, mask] pairs over the 32-bit big-endian words they name into per-byte masks, sorted.
std::vector<std::pair<std::uint32_t, std::uint8_t>> ByteMasks(
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& words, const char* knob) {
  std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
  for (auto [offset, mask] : words) {
    if (offset % 4 != 0 || offset > kFlashBusSize - 4) {
      throw std::invalid_argument(std::string("flash ") + knob + ": offset " + Hex(offset) +
                                  " is not a 32-bit word of the 2 MiB flash");
    }
    for (std::uint32_t i = 0; i < 4; ++i) {
      auto byteMask = static_cast<std::uint8_t>(mask >> (24 - 8 * i));
      if (byteMask != 0) bytes.emplace_back(offset + i, byteMask);
    }
  }
  std::sort(bytes.begin(), bytes.end());
  // Merge duplicates so a lookup finds one entry per byte.
  std::vector<std::pair<std::uint32_t, std::uint8_t>> merged;
  for (auto entry : bytes) {
    if (!merged.empty() && merged.back().first == entry.first) {
      merged.back().second |= entry.second;
    } else {
      merged.push_back(entry);
    }
  }
  return merged;
}

std::uint8_t MaskAt(const std::vector<std::pair<std::uint32_t, std::uint8_t>>& masks, std::uint32_t offset) {
  if (masks.empty()) return 0;
  auto it = std::lower_bound(masks.begin(), masks.end(), std::make_pair(offset, std::uint8_t{0}));
  return it != masks.end() && it->first == offset ? it->second : 0;
}

}  // namespace

std::uint8_t FlashBus::OldFirmwareByte(std::uint32_t offset) {
  // Sixteen-byte records "OLD FW @" + the record's offset in hex: never blank, and a dump shows where it is.
  static constexpr char kLabel[] = "OLD FW @";
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::uint32_t index = offset & 15;
  if (index < 8) return static_cast<std::uint8_t>(kLabel[index]);
  std::uint32_t record = offset & ~std::uint32_t{15};
  return static_cast<std::uint8_t>(kDigits[(record >> (4 * (15 - index))) & 15]);
}

void FlashBus::FillOldFirmware(std::span<std::uint8_t> cells) {
  // Two hex digits per table entry: a record's eight digits are four lookups.
  static constexpr auto kPairs = [] {
    std::array<std::array<char, 2>, 256> pairs{};
    constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < 256; ++i) pairs[i] = {kDigits[i >> 4], kDigits[i & 15]};
    return pairs;
  }();
  std::uint8_t record[16] = {'O', 'L', 'D', ' ', 'F', 'W', ' ', '@'};
  for (std::size_t at = 0; at < cells.size(); at += 16) {
    const auto offset = static_cast<std::uint32_t>(at);
    for (int pair = 0; pair < 4; ++pair) {
      std::memcpy(record + 8 + 2 * pair, kPairs[(offset >> (24 - 8 * pair)) & 255].data(), 2);
    }
    std::memcpy(cells.data() + at, record, std::min<std::size_t>(16, cells.size() - at));
  }
}

FlashBus::FlashBus(const FlashProfile& profile, Clock& clock, const std::filesystem::path& backingFile)
    : profile_(profile),
      clock_(clock),
      storage_(backingFile, kFlashBusSize, &FillOldFirmware),
      neverEraseBytes_(ByteMasks(profile.neverErase, "never_erase")),
      neverProgramBytes_(ByteMasks(profile.neverProgram, "never_program")),
      plainPrograms_(neverProgramBytes_.empty()) {
  if (!(profile_.eraseSeconds >= 0 && profile_.eraseSeconds <= 1e9) ||
      !(profile_.wordProgramUs >= 0 && profile_.wordProgramUs <= 1e9)) {
    throw std::invalid_argument("flash timing must be from 0 to 1e9");
  }
  eraseNs_ = static_cast<std::uint64_t>(std::llround(profile_.eraseSeconds * 1e9));
  programNs_ = static_cast<std::uint64_t>(std::llround(profile_.wordProgramUs * 1e3));
}

void FlashBus::Preload(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
  if (offset > kFlashBusSize || bytes.size() > kFlashBusSize - offset) {
    throw std::out_of_range("preload beyond the flash");
  }
  std::copy(bytes.begin(), bytes.end(), Cells() + offset);
}

bool FlashBus::writeEnabled() const {
  return (reg0_ & kWriteEnableBit) != 0 && (reg1_ & kWriteEnableBit) == 0;
}

void FlashBus::ThrowBusError(std::uint32_t address, std::uint32_t width, const char* what) {
  if (address % width != 0 && address - kFlashBusBase < kFlashBusSize) {
    throw BusError(std::string("bus error: ") + what + " at unaligned address " + Hex(address));
  }
  throw BusError(std::string("bus error: ") + what + " at " + Hex(address) + ", outside the flash window");
}

void FlashBus::PowerOff() {
  PowerOffAt(clock_.Nanoseconds());
}

void FlashBus::PowerOffAt(std::uint64_t nanoseconds) {
  const std::uint64_t at = std::min(nanoseconds, clock_.Nanoseconds());
  if (mode_ == Mode::Busy && !profile_.neverReady) {
    if (at >= readyAtNs_) {
      Complete();
    } else if (pending_ == Pending::Erase) {
      SettleErase(at);
    } else if (pending_ == Pending::Program) {
      TearProgram(at);
    }
  }
  // The next power-up finds the array in read mode with a clear status.
  pending_ = Pending::None;
  mode_ = Mode::ReadArray;
  errors_ = 0;
}

std::uint64_t FlashBus::CutInstant() const {
  std::uint64_t at = std::min(clock_.Nanoseconds(), cutAtNs_);
  // A cut on a status read of a busy device falls halfway through the wait that read stands for.
  if (mode_ == Mode::Busy && at == clock_.Nanoseconds() && readyAtNs_ > at) {
    at += std::min(readyAtNs_ - at, kPollSliceNs) / 2;
  }
  return at;
}

void FlashBus::CutNow() {
  const std::uint64_t at = CutInstant();
  if (at > clock_.Nanoseconds()) clock_.AdvanceNanoseconds(at - clock_.Nanoseconds());
  PowerOffAt(at);
  throw PowerCut{};
}

void FlashBus::CutOrWatch() {
  if (watchOps_ && observer_ != nullptr && counters_.busOps == cutAtOp_ && clock_.Nanoseconds() < cutAtNs_ &&
      !observer_->OpBegins(counters_.busOps)) {
    ++cutAtOp_;
    return;
  }
  CutNow();
}

void FlashBus::PreviewCut(const std::function<void(const CutPreview&)>& look) {
  CutPreview preview{.nanoseconds = CutInstant()};
  std::uint32_t length = 0;
  if (mode_ == Mode::Busy && !profile_.neverReady) {
    if (pending_ == Pending::Program) {
      preview.offset = pendingOffset_;
      length = 2;
    } else if (pending_ == Pending::Erase) {
      preview.offset = erasedUpTo_;
      length = kFlashBusSize - erasedUpTo_;
    }
  }
  previewBefore_.assign(Cells() + preview.offset, Cells() + preview.offset + length);
  preview.before = previewBefore_;
  if (length == 0) {
    look(preview);
    return;
  }
  // What PowerOffAt would do at that instant, without the clock moving and unseen by the observer.
  FlashObserver* const observer = std::exchange(observer_, nullptr);
  const Mode mode = mode_;
  const std::uint8_t errors = errors_;
  const Pending pending = pending_;
  const std::uint32_t erasedUpTo = erasedUpTo_;
  const std::vector<ReadFlip> flips = readFlips_;
  if (preview.nanoseconds >= readyAtNs_) {
    Complete();
  } else if (pending_ == Pending::Erase) {
    SettleErase(preview.nanoseconds);
  } else {
    TearProgram(preview.nanoseconds);
  }
  auto restore = [&] {
    std::copy(previewBefore_.begin(), previewBefore_.end(), Cells() + preview.offset);
    mode_ = mode;
    errors_ = errors;
    pending_ = pending;
    erasedUpTo_ = erasedUpTo;
    readFlips_ = flips;
    observer_ = observer;
  };
  try {
    look(preview);
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

void FlashBus::SetCutPoint(const PowerCutPoint& point) {
  cutPoint_ = point;
  if (point.at == PowerCutPoint::At::kBusOp) cutAtOp_ = point.value;
  if (point.at == PowerCutPoint::At::kTime) cutAtNs_ = point.value;
}

void FlashBus::FlipReadBits(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& words) {
  readFlips_.clear();
  for (auto [offset, mask] : ByteMasks(words, "read_flips")) readFlips_.push_back({offset, mask, false});
  plainPrograms_ = neverProgramBytes_.empty() && readFlips_.empty();
}

void FlashBus::SettleBusy() {
  if (profile_.neverReady) return;
  const std::uint64_t now = clock_.Nanoseconds();
  if (now >= readyAtNs_) {
    Complete();
  } else if (pending_ == Pending::Erase) {
    SettleErase(now);  // the file shows the erase as it goes
  }
}

// The chip erases its 32 blocks one after another, each over an equal share of the erase time and each in
// address order, so that at any instant the cells below one address are erased and the rest are not.
void FlashBus::SettleErase(std::uint64_t nowNs) {
  const std::uint64_t elapsed = nowNs - busySinceNs_;
  std::uint32_t upTo = kFlashBusSize;
  if (elapsed < busyNs_) {
    // Without 128-bit arithmetic (the simulator builds for 32-bit MIPS too); erases longer than 2^43 ns
    // round to whole nanoseconds per byte.
    constexpr std::uint64_t kMaxExact = ~std::uint64_t{0} / kFlashBusSize;
    upTo = static_cast<std::uint32_t>(busyNs_ <= kMaxExact ? elapsed * kFlashBusSize / busyNs_
                                                           : elapsed / (busyNs_ / kFlashBusSize));
  }
  if (upTo <= erasedUpTo_) return;
  if (observer_ != nullptr) observer_->CellsChanging(erasedUpTo_, upTo - erasedUpTo_, true);
  std::fill(Cells() + erasedUpTo_, Cells() + upTo, std::uint8_t{0xFF});
  for (auto [offset, stuckLow] : neverEraseBytes_) {
    if (offset >= erasedUpTo_ && offset < upTo) Cells()[offset] &= static_cast<std::uint8_t>(~stuckLow);
  }
  if (observer_ != nullptr) observer_->CellsChanged(erasedUpTo_, upTo - erasedUpTo_);
  erasedUpTo_ = upTo;
}

// A word program cut short has cleared only some of the bits it was clearing, the high ones first.
void FlashBus::TearProgram(std::uint64_t nowNs) {
  const std::uint64_t elapsed = nowNs - busySinceNs_;
  std::uint16_t word = ArrayWord(pendingOffset_);
  const auto clearing = static_cast<std::uint16_t>(word & ~pendingData_);
  const auto stuckHigh = static_cast<std::uint16_t>((MaskAt(neverProgramBytes_, pendingOffset_) << 8) |
                                                    MaskAt(neverProgramBytes_, pendingOffset_ + 1));
  std::uint64_t bits = 0;
  for (std::uint16_t b = clearing; b != 0; b = static_cast<std::uint16_t>(b & (b - 1))) ++bits;
  std::uint64_t done = busyNs_ == 0 ? bits : elapsed * bits / busyNs_;
  for (int bit = 15; bit >= 0 && done > 0; --bit) {
    const auto m = static_cast<std::uint16_t>(1u << bit);
    if ((clearing & m) == 0) continue;
    --done;
    if ((stuckHigh & m) == 0) word = static_cast<std::uint16_t>(word & ~m);
  }
  if (observer_ != nullptr) observer_->CellsChanging(pendingOffset_, 2, false);
  Cells()[pendingOffset_] = static_cast<std::uint8_t>(word >> 8);
  Cells()[pendingOffset_ + 1] = static_cast<std::uint8_t>(word);
  if (observer_ != nullptr) observer_->CellsChanged(pendingOffset_, 2);
}

void FlashBus::FinishObservedProgram() {
  observer_->CellsChanging(pendingOffset_, 2, false);
  Cells()[pendingOffset_] &= static_cast<std::uint8_t>(pendingData_ >> 8);
  Cells()[pendingOffset_ + 1] &= static_cast<std::uint8_t>(pendingData_);
  observer_->CellsChanged(pendingOffset_, 2);
  pending_ = Pending::None;
  mode_ = Mode::ReadStatus;
}

// Write enable taken away while the device works: the operation stops where it is, with SR.3 set.
void FlashBus::Abort(std::uint64_t nowNs, std::uint8_t errors) {
  if (profile_.neverReady) {
    // A hung device has done nothing to stop.
  } else if (pending_ == Pending::Erase) {
    SettleErase(nowNs);
  } else if (pending_ == Pending::Program) {
    TearProgram(nowNs);
  }
  errors_ |= errors;
  pending_ = Pending::None;
  mode_ = Mode::ReadStatus;
}

void FlashBus::StartBusy(std::uint64_t durationNs) {
  mode_ = Mode::Busy;
  busySinceNs_ = clock_.Nanoseconds();
  busyNs_ = durationNs;
  readyAtNs_ = profile_.neverReady ? std::numeric_limits<std::uint64_t>::max() : busySinceNs_ + durationNs;
}

void FlashBus::Complete() {
  if (pending_ == Pending::Program && plainPrograms_) {
    FinishPlainProgram();
    return;
  }
  if (pending_ == Pending::Program) {
    bool fault = false;
    if (observer_ != nullptr) observer_->CellsChanging(pendingOffset_, 2, false);
    for (std::uint32_t i = 0; i < 2; ++i) {
      std::uint32_t offset = pendingOffset_ + i;
      auto data = static_cast<std::uint8_t>(i == 0 ? pendingData_ >> 8 : pendingData_);
      std::uint8_t stuckHigh = MaskAt(neverProgramBytes_, offset);
      auto cell = static_cast<std::uint8_t>(Cells()[offset] & (data | stuckHigh));
      if ((cell & ~data & stuckHigh) != 0) fault = true;
      Cells()[offset] = cell;
    }
    if (observer_ != nullptr) observer_->CellsChanged(pendingOffset_, 2);
    if (fault) errors_ |= kSrProgramError;
    for (ReadFlip& flip : readFlips_) {
      if (flip.offset - pendingOffset_ < 2) flip.armed = true;
    }
  } else if (pending_ == Pending::Erase) {
    SettleErase(readyAtNs_);
    if (!neverEraseBytes_.empty()) errors_ |= kSrEraseError;
  }
  pending_ = Pending::None;
  mode_ = Mode::ReadStatus;
}

void FlashBus::Command(std::uint32_t offset, std::uint16_t value) {
  auto command = static_cast<std::uint8_t>(value);  // the device decodes commands on the low byte lane
  switch (mode_) {
    case Mode::Busy:
      return;  // the device ignores commands until the operation has finished
    case Mode::ProgramSetup:
      if (!writeEnabled()) {
        errors_ |= kSrVppLow | kSrProgramError;
        ++counters_.writeEnableViolations;
        mode_ = Mode::ReadStatus;
        return;
      }
      ++counters_.wordsProgrammed;
      pending_ = Pending::Program;
      pendingOffset_ = offset;
      pendingData_ = value;
      StartBusy(programNs_);
      if (cutPoint_.at == PowerCutPoint::At::kWord && counters_.wordsProgrammed == cutPoint_.value)
          [[unlikely]] {
        cutAtNs_ = busySinceNs_ + programNs_ / 2;
      }
      return;
    case Mode::EraseSetup:
      if (command != kCmdConfirm) {
        errors_ |= kSrProgramError | kSrEraseError;  // command sequence error
        mode_ = Mode::ReadStatus;
        return;
      }
      if (!writeEnabled()) {
        errors_ |= kSrVppLow | kSrEraseError;
        ++counters_.writeEnableViolations;
        mode_ = Mode::ReadStatus;
        return;
      }
      ++counters_.erases;
      pending_ = Pending::Erase;
      erasedUpTo_ = 0;
      StartBusy(eraseNs_);
      if (cutPoint_.at == PowerCutPoint::At::kDuringErase && counters_.erases == 1) {
        cutAtNs_ = busySinceNs_ + eraseNs_ / 2;
      }
      return;
    case Mode::ReadArray:
    case Mode::ReadStatus:
      break;
  }
  if (cutPoint_.at != PowerCutPoint::At::kNone) [[unlikely]] {
    if ((cutPoint_.at == PowerCutPoint::At::kBeforeErase && command == kCmdChipErase) ||
        (cutPoint_.at == PowerCutPoint::At::kAfterLastWord && command == kCmdReadArray &&
         counters_.wordsProgrammed > 0)) {
      CutNow();
    }
  }
  switch (command) {
    case kCmdReadArray:
      mode_ = Mode::ReadArray;
      break;
    case kCmdReadStatus:
      mode_ = Mode::ReadStatus;
      break;
    case kCmdClearStatus:
      errors_ = 0;
      break;
    case kCmdWordProgram:
    case kCmdWordProgramAlt:
      mode_ = Mode::ProgramSetup;
      break;
    case kCmdChipErase:
      mode_ = Mode::EraseSetup;
      break;
    default:
      errors_ |= kSrProgramError | kSrEraseError;  // not a command this device knows
      mode_ = Mode::ReadStatus;
      break;
  }
}

std::uint16_t FlashBus::FlipReadBits16(std::uint32_t offset, std::uint16_t value) const {
  for (const ReadFlip& flip : readFlips_) {
    if (flip.armed && flip.offset - offset < 2) {
      value ^= static_cast<std::uint16_t>(flip.mask << (flip.offset == offset ? 8 : 0));
    }
  }
  return value;
}

void FlashBus::NoteRecorded(BusOp::Kind kind, std::uint32_t address, std::uint32_t value) {
  recorded_.push_back({kind, address, value, interruptsLocked_});
  recordedNs_.push_back(clock_.Nanoseconds());
}

// The registers, status reads, reads with flips, recorded reads, and bus errors.
std::uint32_t FlashBus::Load32Slow(std::uint32_t address) {
  BeginOp();
  if (address == kFlashRegister0 || address == kFlashRegister1) {
    std::uint32_t value = address == kFlashRegister0 ? reg0_ : reg1_;
    Note(BusOp::Kind::Load32, address, value);
    return value;
  }
  std::uint32_t offset = FlashOffset(address, 4, "32-bit load");
  Settle();
  std::uint32_t value;
  if (mode_ == Mode::ReadArray) {
    if (offset == 0) ++counters_.blankChecks;
    ReadCells(offset, 4);
    value = (std::uint32_t{Cells()[offset]} << 24) | (std::uint32_t{Cells()[offset + 1]} << 16) |
            (std::uint32_t{Cells()[offset + 2]} << 8) | Cells()[offset + 3];
    if (!readFlips_.empty()) [[unlikely]] {
      for (const ReadFlip& flip : readFlips_) {
        if (flip.armed && flip.offset - offset < 4) {
          value ^= std::uint32_t{flip.mask} << (24 - 8 * (flip.offset - offset));
        }
      }
    }
  } else {
    std::uint32_t status = ReadStatusAndWait();
    value = (status << 16) | status;  // both halves of the bus carry the status
  }
  Note(BusOp::Kind::Load32, address, value);
  return value;
}

void FlashBus::Modify32(std::uint32_t address, std::uint32_t andMask, std::uint32_t orMask) {
  BeginOp();
  std::uint32_t* reg = address == kFlashRegister0 ? &reg0_ : address == kFlashRegister1 ? &reg1_ : nullptr;
  if (reg == nullptr) {
    throw BusError("bus error: 32-bit read-modify-write at " + Hex(address) +
                   ", which is not a write-enable register");
  }
  *reg = (*reg & andMask) | orMask;
  Note(BusOp::Kind::Modify32, address, *reg);
  if (mode_ == Mode::Busy && !writeEnabled()) {
    Settle();
    if (mode_ == Mode::Busy) {
      const std::uint8_t failed = pending_ == Pending::Erase ? kSrEraseError : kSrProgramError;
      Abort(clock_.Nanoseconds(), static_cast<std::uint8_t>(kSrVppLow | failed));
    }
  }
}

}  // namespace sim
