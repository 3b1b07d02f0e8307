// vupdate sweep --points all without running every cut: the cut states of the uncut run are walked in order,
// and a power-up after a cut runs only when no earlier one read the same things from its state.
//
// The simulated camera is deterministic: a power-up starts its clock at zero and nothing in the module or the
// simulator depends on real time or on another thread. So two cut states that answer every question the
// power-ups after the cut ask of them identically (each cell of the flash they read, or program on top of,
// before they set it themselves; the card; the EEPROM) lead to identical power-ups. A class is such a set of
// answers with what the power-ups did; a cut state belongs to it when it gives the same answers.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "cli/sweep.h"
#include "sim/flash.h"

namespace vupdate::sweep {

// What the flash holds after a power-up, as far as the state before the first power-up decides it.
struct FlashFate {
  enum class Kind : std::uint8_t {
    kKnown,    // every cell was read or set: `flash` holds for every state of the class
    kPartly,   // some cells were never touched: they hold what the cut left
    kUnknown,  // too scattered to say: `flash` is the founder's own, and the class has no other state
  };
  static constexpr std::size_t kMaxUnread = 8;
  Kind kind = Kind::kUnknown;
  FlashAfterCut flash = FlashAfterCut::kOld;  // the founder's
  bool isNew = false;                         // the founder's flash is the new image, byte for byte
  // kPartly: whether the cells read or set so far hold the old image, the new one, 0xFF; how many of the
  // cells read differed from each when the cut left them; and the stretches set without being read.
  bool sameOld = false, sameNew = false, sameErased = false;
  std::uint32_t depDiffOld = 0, depDiffNew = 0, depDiffErased = 0;
  std::uint8_t unreadCount = 0;
  std::array<std::pair<std::uint32_t, std::uint32_t>, kMaxUnread> unread{};  // [from, to)
};

// For each cell of the uncut run's flash, whether it differs from the old image, the new one and 0xFF, summed
// over any stretch in O(log n): what a class needs of the cells it set without reading them.
class CellDiffs {
 public:
  struct Counts {
    std::int64_t old = 0, fresh = 0, erased = 0;
  };
  void Reset(std::span<const std::uint8_t> cells, std::span<const std::uint8_t> old,
             std::span<const std::uint8_t> fresh);
  void Changing(std::uint32_t offset, std::uint32_t length) { Add(offset, length, -1); }
  void Changed(std::uint32_t offset, std::uint32_t length) { Add(offset, length, 1); }
  // Over [from, to) of the uncut run's cells, with `preview`'s cells as the cut leaves them.
  Counts Sum(std::uint32_t from, std::uint32_t to, const sim::CutPreview& preview) const;

 private:
  void Add(std::uint32_t offset, std::uint32_t length, int sign);
  std::int64_t Prefix(const std::vector<std::int32_t>& tree, std::uint32_t end) const;
  std::span<const std::uint8_t> cells_, old_, fresh_;
  std::vector<std::int32_t> old2_, fresh2_, erased2_;  // Fenwick trees over the cells
};

// The cells a class depends on, with the values its founder's cut left there. Kept as runs of consecutive
// cells, since the power-ups read the flash in stretches: a class founded during the erase depends on most
// of the chip, and costs a byte a cell.
class Dependencies {
 public:
  struct Run {
    std::uint32_t offset = 0, length = 0;
    std::uint32_t first = 0;  // into values, of the run's first cell
  };
  // Cells come in ascending order.
  void Add(std::uint32_t offset, std::uint8_t value);
  // Drops every cell from `end` on.
  void KeepBelow(std::uint32_t end);
  // Calls each(offset, value) for the cells in [offset, offset + length), in order.
  template <typename F>
  void ForEachIn(std::uint32_t offset, std::uint64_t length, F&& each) const;
  template <typename F>
  void ForEach(F&& each) const {
    ForEachIn(0, std::uint64_t{1} << 32, each);
  }
  std::size_t size() const { return values.size(); }

  std::vector<Run> runs;
  std::vector<std::uint8_t> values;
};

template <typename F>
void Dependencies::ForEachIn(std::uint32_t offset, std::uint64_t length, F&& each) const {
  const std::uint64_t end = offset + length;
  // The first run that ends past `offset`.
  auto run = std::upper_bound(runs.begin(), runs.end(), offset,
                              [](std::uint32_t o, const Run& r) { return o < r.offset; });
  if (run != runs.begin() && std::prev(run)->offset + std::uint64_t{std::prev(run)->length} > offset) --run;
  for (; run != runs.end() && run->offset < end; ++run) {
    const std::uint32_t from = std::max(offset, run->offset);
    const auto to =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(end, std::uint64_t{run->offset} + run->length));
    for (std::uint32_t b = from; b < to; ++b) each(b, values[run->first + (b - run->offset)]);
  }
}

// Watches the flash through the power-ups after a cut: what they read of the cut state before they set it.
class Taint final : public sim::FlashObserver {
 public:
  Taint();
  // The cells of the camera now running; the taint carries over from one power-up to the next.
  void Attach(std::span<const std::uint8_t> cells) { cells_ = cells; }

  void CellsRead(std::uint32_t offset, std::uint32_t length) override;
  void CellsChanging(std::uint32_t offset, std::uint32_t length, bool erase) override;
  void CellsChanged(std::uint32_t /*offset*/, std::uint32_t /*length*/) override {}

  // The cells read before they were set, with what they held after the cut.
  Dependencies Read() const;
  // What `flash`, the cells at the end of a power-up, says of every state of the class.
  FlashFate Fate(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> old,
                 std::span<const std::uint8_t> fresh) const;

 private:
  enum State : std::uint8_t { kUntouched, kRead, kReadThenSet, kSetUnread };
  void Depend(std::uint32_t offset);
  std::vector<State> state_;
  std::vector<std::uint8_t> initial_;  // of the cells read before they were set
  std::span<const std::uint8_t> cells_;
  std::uint32_t untouched_;
  std::uint32_t setUnread_ = 0;
};

// A class of cut states and what the power-ups after any of them do.
struct CutClass {
  std::uint64_t cardEpoch = 0;
  std::optional<std::uint32_t> region;  // the EEPROM's
  Dependencies deps;
  // What the power-ups did: the retry, and the clean one after it when there is one.
  PowerUpTrace retry, clean;
  bool cleanRun = false;
  std::uint32_t retryFiles = 0, cleanFiles = 0;
  FlashFate retryFate, cleanFate;
  std::uint64_t founder = 0;  // the bus operation whose cut was run
  std::uint64_t points = 0;   // cut states in the class
  bool Shareable() const {
    return retryFate.kind != FlashFate::Kind::kUnknown &&
           (!cleanRun || cleanFate.kind != FlashFate::Kind::kUnknown);
  }
};

// The walk's view of the flash: the cells of the uncut run and, for each class, how many of its dependencies
// they answer differently; kept up to date as the cells change, so a cut state is matched in O(classes).
class ClassTable final : public sim::FlashObserver {
 public:
  ClassTable(std::span<const std::uint8_t> old, std::span<const std::uint8_t> fresh, KeyFault fault)
      : old_(old), fresh_(fresh), fault_(fault) {}
  // The uncut run's cells, as they are when the walk starts, and their sums (kept by the walk, shared).
  void Attach(std::span<const std::uint8_t> cells, const CellDiffs* sums);

  void CellsRead(std::uint32_t /*offset*/, std::uint32_t /*length*/) override {}
  void CellsChanging(std::uint32_t offset, std::uint32_t length, bool erase) override;
  void CellsChanged(std::uint32_t offset, std::uint32_t length) override;

  // The cut state the preview shows, with the card and EEPROM the walk is at: its own flash kind, and its
  // class if one is known.
  struct Seen {
    FlashAfterCut flash = FlashAfterCut::kOld;
    std::uint32_t diffOld = 0, diffNew = 0, diffErased = 0;
    std::optional<std::uint32_t> cutClass;
    // Of the class's stretches set unread by the retry and by the clean power-up: differences of this state.
    CellDiffs::Counts retryUnread, cleanUnread;
  };
  // `hint`, a class to try first: the last state's, which the next usually shares.
  Seen Look(const sim::CutPreview& preview, std::uint64_t cardEpoch, std::optional<std::uint32_t> region,
            std::optional<std::uint32_t> hint = std::nullopt) const;
  // A class founded by the cut state the preview shows (`preview` as at Look).
  std::uint32_t Add(CutClass c, const sim::CutPreview& preview);

  std::vector<CutClass>& classes() { return classes_; }
  const std::vector<CutClass>& classes() const { return classes_; }
  // The verdict of a cut state of a class.
  SweepPoint Verdict(const Seen& seen, std::uint32_t filesLeft) const;

 private:
  void Count(std::uint32_t offset, std::uint32_t length, int sign);
  void Unread(const CutClass& c, const sim::CutPreview& preview, Seen& seen) const;
  std::span<const std::uint8_t> old_, fresh_, cells_;
  const CellDiffs* sums_ = nullptr;
  KeyFault fault_;
  std::uint32_t diffOld_ = 0, diffNew_ = 0, diffErased_ = 0;
  std::vector<CutClass> classes_;
  std::vector<std::int64_t> mismatches_;  // per class, of the uncut run's cells
};

}  // namespace vupdate::sweep
