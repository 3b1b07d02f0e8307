// The classes of cut states of vupdate sweep --points all, and the taint that finds what a class depends on.
#include "cli/sweep_classes.h"

#include <algorithm>

#include "app/panel.h"

namespace vupdate::sweep {

namespace {

FlashAfterCut KindOf(std::uint32_t diffOld, std::uint32_t diffNew, std::uint32_t diffErased) {
  return diffOld == 0      ? FlashAfterCut::kOld
         : diffNew == 0    ? FlashAfterCut::kNew
         : diffErased == 0 ? FlashAfterCut::kErased
                           : FlashAfterCut::kPartial;
}

// What the flash held after a power-up of the class, for a cut state whose own differences are `seen`; and
// whether it was the new image.
std::pair<FlashAfterCut, bool> FlashAfter(const FlashFate& fate, const ClassTable::Seen& seen,
                                          const CellDiffs::Counts& unread) {
  if (fate.kind != FlashFate::Kind::kPartly) return {fate.flash, fate.isNew};
  // The cells the class touched hold what the class says; every other cell holds what the cut left, so the
  // state's own differences outside them decide.
  const bool old = fate.sameOld && seen.diffOld == fate.depDiffOld + unread.old;
  const bool fresh = fate.sameNew && seen.diffNew == fate.depDiffNew + unread.fresh;
  const bool erased = fate.sameErased && seen.diffErased == fate.depDiffErased + unread.erased;
  return {KindOf(old ? 0 : 1, fresh ? 0 : 1, erased ? 0 : 1), fresh};
}

}  // namespace

Taint::Taint()
    : state_(sim::kFlashBusSize, kUntouched), initial_(sim::kFlashBusSize), untouched_(sim::kFlashBusSize) {}

void Taint::Depend(std::uint32_t offset) {
  if (state_[offset] != kUntouched) return;
  initial_[offset] = cells_[offset];
  state_[offset] = kRead;
  --untouched_;
}

void Taint::CellsRead(std::uint32_t offset, std::uint32_t length) {
  for (std::uint32_t b = offset; b < offset + length; ++b) Depend(b);
}

void Taint::CellsChanging(std::uint32_t offset, std::uint32_t length, bool erase) {
  for (std::uint32_t b = offset; b < offset + length; ++b) {
    // A program ANDs into what the cell holds, a torn one clears some of its bits: both read it.
    if (!erase) Depend(b);
    if (state_[b] == kRead) {
      state_[b] = kReadThenSet;
    } else if (state_[b] == kUntouched) {
      state_[b] = kSetUnread;
      --untouched_;
      ++setUnread_;
    }
  }
}

void Dependencies::Add(std::uint32_t offset, std::uint8_t value) {
  if (runs.empty() || runs.back().offset + runs.back().length != offset) {
    runs.push_back({.offset = offset, .length = 0, .first = static_cast<std::uint32_t>(values.size())});
  }
  ++runs.back().length;
  values.push_back(value);
}

void Dependencies::KeepBelow(std::uint32_t end) {
  while (!runs.empty() && runs.back().offset >= end) runs.pop_back();
  if (!runs.empty()) runs.back().length = std::min(runs.back().length, end - runs.back().offset);
  values.resize(runs.empty() ? 0 : runs.back().first + runs.back().length);
}

Dependencies Taint::Read() const {
  Dependencies deps;
  for (std::uint32_t b = 0; b < state_.size(); ++b) {
    if (state_[b] == kRead || state_[b] == kReadThenSet) deps.Add(b, initial_[b]);
  }
  return deps;
}

FlashFate Taint::Fate(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> old,
                      std::span<const std::uint8_t> fresh) const {
  FlashFate fate;
  fate.flash = harness::ClassifyFlash(flash, old, fresh);
  fate.isNew = std::equal(flash.begin(), flash.end(), fresh.begin(), fresh.end());
  if (untouched_ == 0) {
    fate.kind = FlashFate::Kind::kKnown;
    return fate;
  }
  fate.sameOld = fate.sameNew = fate.sameErased = true;
  for (std::uint32_t b = 0; b < state_.size(); ++b) {
    if (state_[b] == kUntouched) continue;
    fate.sameOld = fate.sameOld && flash[b] == old[b];
    fate.sameNew = fate.sameNew && flash[b] == fresh[b];
    fate.sameErased = fate.sameErased && flash[b] == 0xFF;
    if (state_[b] == kSetUnread) {
      if (fate.unreadCount != 0 && fate.unread[fate.unreadCount - 1].second == b) {
        ++fate.unread[fate.unreadCount - 1].second;
      } else if (fate.unreadCount == FlashFate::kMaxUnread) {
        return fate;  // kUnknown
      } else {
        fate.unread[fate.unreadCount++] = {b, b + 1};
      }
      continue;
    }
    fate.depDiffOld += initial_[b] != old[b] ? 1 : 0;
    fate.depDiffNew += initial_[b] != fresh[b] ? 1 : 0;
    fate.depDiffErased += initial_[b] != 0xFF ? 1 : 0;
  }
  fate.kind = FlashFate::Kind::kPartly;
  return fate;
}

void CellDiffs::Reset(std::span<const std::uint8_t> cells, std::span<const std::uint8_t> old,
                      std::span<const std::uint8_t> fresh) {
  cells_ = cells;
  old_ = old;
  fresh_ = fresh;
  for (auto* tree : {&old2_, &fresh2_, &erased2_}) tree->assign(cells.size() + 1, 0);
  Add(0, static_cast<std::uint32_t>(cells.size()), 1);
}

void CellDiffs::Add(std::uint32_t offset, std::uint32_t length, int sign) {
  const auto n = static_cast<std::uint32_t>(cells_.size());
  for (std::uint32_t b = offset; b < offset + length; ++b) {
    const int o = cells_[b] != old_[b] ? sign : 0, f = cells_[b] != fresh_[b] ? sign : 0,
              e = cells_[b] != 0xFF ? sign : 0;
    if (o == 0 && f == 0 && e == 0) continue;
    for (std::uint32_t i = b + 1; i <= n; i += i & (~i + 1)) {
      old2_[i] += o;
      fresh2_[i] += f;
      erased2_[i] += e;
    }
  }
}

std::int64_t CellDiffs::Prefix(const std::vector<std::int32_t>& tree, std::uint32_t end) const {
  std::int64_t sum = 0;
  for (std::uint32_t i = end; i > 0; i -= i & (~i + 1)) sum += tree[i];
  return sum;
}

CellDiffs::Counts CellDiffs::Sum(std::uint32_t from, std::uint32_t to, const sim::CutPreview& preview) const {
  Counts c{Prefix(old2_, to) - Prefix(old2_, from), Prefix(fresh2_, to) - Prefix(fresh2_, from),
           Prefix(erased2_, to) - Prefix(erased2_, from)};
  // The cells the cut changes, as it leaves them.
  const std::uint32_t lo = std::max(from, preview.offset);
  const auto hi = std::min<std::uint64_t>(to, preview.offset + std::uint64_t{preview.before.size()});
  for (std::uint32_t b = lo; b < hi; ++b) {
    const std::uint8_t was = preview.before[b - preview.offset], now = cells_[b];
    c.old += (now != old_[b] ? 1 : 0) - (was != old_[b] ? 1 : 0);
    c.fresh += (now != fresh_[b] ? 1 : 0) - (was != fresh_[b] ? 1 : 0);
    c.erased += (now != 0xFF ? 1 : 0) - (was != 0xFF ? 1 : 0);
  }
  return c;
}

void ClassTable::Attach(std::span<const std::uint8_t> cells, const CellDiffs* sums) {
  cells_ = cells;
  sums_ = sums;
  diffOld_ = diffNew_ = diffErased_ = 0;
  for (auto& m : mismatches_) m = 0;
  Count(0, static_cast<std::uint32_t>(cells.size()), 1);
}

void ClassTable::Count(std::uint32_t offset, std::uint32_t length, int sign) {
  std::int64_t old = 0, fresh = 0, erased = 0;
  for (std::uint32_t b = offset; b < offset + length; ++b) {
    old += cells_[b] != old_[b] ? 1 : 0;
    fresh += cells_[b] != fresh_[b] ? 1 : 0;
    erased += cells_[b] != 0xFF ? 1 : 0;
  }
  diffOld_ = static_cast<std::uint32_t>(diffOld_ + sign * old);
  diffNew_ = static_cast<std::uint32_t>(diffNew_ + sign * fresh);
  diffErased_ = static_cast<std::uint32_t>(diffErased_ + sign * erased);
  for (std::size_t c = 0; c < classes_.size(); ++c) {
    classes_[c].deps.ForEachIn(offset, length, [&](std::uint32_t b, std::uint8_t v) {
      mismatches_[c] += sign * (cells_[b] != v ? 1 : 0);
    });
  }
}

void ClassTable::CellsChanging(std::uint32_t offset, std::uint32_t length, bool /*erase*/) {
  Count(offset, length, -1);
}

void ClassTable::CellsChanged(std::uint32_t offset, std::uint32_t length) {
  Count(offset, length, 1);
}

ClassTable::Seen ClassTable::Look(const sim::CutPreview& preview, std::uint64_t cardEpoch,
                                  std::optional<std::uint32_t> region,
                                  std::optional<std::uint32_t> hint) const {
  Seen seen{.diffOld = diffOld_, .diffNew = diffNew_, .diffErased = diffErased_};
  const auto length = static_cast<std::uint32_t>(preview.before.size());
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint32_t b = preview.offset + i;
    const std::uint8_t was = preview.before[i], now = cells_[b];
    seen.diffOld += (now != old_[b] ? 1u : 0u) - (was != old_[b] ? 1u : 0u);
    seen.diffNew += (now != fresh_[b] ? 1u : 0u) - (was != fresh_[b] ? 1u : 0u);
    seen.diffErased += (now != 0xFF ? 1u : 0u) - (was != 0xFF ? 1u : 0u);
  }
  seen.flash = KindOf(seen.diffOld, seen.diffNew, seen.diffErased);
  auto answers = [&](std::size_t c) {
    const CutClass& k = classes_[c];
    if (!k.Shareable() || k.region != region) return false;
    if (fault_ != KeyFault::kCard && k.cardEpoch != cardEpoch) return false;
    std::int64_t mismatches = mismatches_[c];
    k.deps.ForEachIn(preview.offset, length, [&](std::uint32_t b, std::uint8_t v) {
      mismatches += (cells_[b] != v ? 1 : 0) - (preview.before[b - preview.offset] != v ? 1 : 0);
    });
    return mismatches == 0;
  };
  // A state answers at most one class: two classes it answered would be the same power-ups reading the same
  // cells.
  if (hint && *hint < classes_.size() && answers(*hint)) {
    seen.cutClass = *hint;
  } else {
    for (std::size_t c = 0; c < classes_.size(); ++c) {
      if (answers(c)) {
        seen.cutClass = static_cast<std::uint32_t>(c);
        break;
      }
    }
  }
  if (seen.cutClass) Unread(classes_[*seen.cutClass], preview, seen);
  return seen;
}

void ClassTable::Unread(const CutClass& c, const sim::CutPreview& preview, Seen& seen) const {
  auto sum = [&](const FlashFate& fate, CellDiffs::Counts& into) {
    into = {};
    for (std::size_t i = 0; i < fate.unreadCount; ++i) {
      const CellDiffs::Counts part = sums_->Sum(fate.unread[i].first, fate.unread[i].second, preview);
      into.old += part.old;
      into.fresh += part.fresh;
      into.erased += part.erased;
    }
  };
  sum(c.retryFate, seen.retryUnread);
  if (c.cleanRun) sum(c.cleanFate, seen.cleanUnread);
}

std::uint32_t ClassTable::Add(CutClass c, const sim::CutPreview& preview) {
  if (fault_ == KeyFault::kFlashBeyondFirstBlock) {
    // The planted fault: the key forgets every cell past the first 64 KiB block.
    c.deps.KeepBelow(0x10000);
  }
  std::int64_t mismatches = 0;
  c.deps.ForEach([&](std::uint32_t b, std::uint8_t v) {
    // Against the uncut run's cells, not the preview's.
    const bool previewed = b >= preview.offset && b - preview.offset < preview.before.size();
    mismatches += (previewed ? preview.before[b - preview.offset] : cells_[b]) != v ? 1 : 0;
  });
  classes_.push_back(std::move(c));
  mismatches_.push_back(mismatches);
  return static_cast<std::uint32_t>(classes_.size() - 1);
}

SweepPoint ClassTable::Verdict(const Seen& seen, std::uint32_t filesLeft) const {
  const CutClass& c = classes_[*seen.cutClass];
  SweepPoint p{};
  p.cutHappened = true;
  p.flash = seen.flash;
  p.filesLeft = filesLeft;
  const auto [retryFlash, retryNew] = FlashAfter(c.retryFate, seen, seen.retryUnread);
  p.retryRestored = retryNew;
  p.afterRetry = {retryFlash, c.retryFiles};
  p.retryTrace = c.retry;
  bool falseSuccess = c.retry.panel == kSuccessPanel && !retryNew;
  if (c.cleanRun) {
    const auto [cleanFlash, cleanNew] = FlashAfter(c.cleanFate, seen, seen.cleanUnread);
    p.cleanRun = true;
    p.afterClean = {cleanFlash, c.cleanFiles};
    p.cleanTrace = c.clean;
    falseSuccess = falseSuccess || (c.clean.panel == kSuccessPanel && !cleanNew);
  }
  p.falseSuccess = falseSuccess;
  return p;
}

}  // namespace vupdate::sweep
