#include "sim/card_faults.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
constexpr std::string_view kLogPath = "SYSTEM/UPDATE.LOG";
}

struct FaultyCard::Shared {
  FaultProfile faults;
  const Clock& clock;
  std::function<void()> cut;
  std::vector<std::uint32_t> errorsLeft;  // per read-error fault
  std::vector<std::uint32_t> errorReads;  // per read-error fault: reads that reached its byte
  std::vector<std::uint32_t> flipReads;   // per flip: reads of its byte so far
  std::uint64_t written = 0;
  std::uint64_t removals = 0;
  std::uint64_t logWrites = 0;

  bool Pulled() const { return faults.cardPulledAtNs && clock.Nanoseconds() >= *faults.cardPulledAtNs; }
  bool ReadOnly() const {
    return Pulled() || (faults.cardReadOnlyAtNs && clock.Nanoseconds() >= *faults.cardReadOnlyAtNs);
  }
  bool CutAt(PowerCutPoint::At at) const { return faults.powerCut.at == at; }
};

namespace {

class FaultyHandle final : public CardHandle {
 public:
  FaultyHandle(std::unique_ptr<CardHandle> inner, std::string path,
               std::shared_ptr<FaultyCard::Shared> shared)
      : inner_(std::move(inner)), path_(std::move(path)), shared_(std::move(shared)) {}

  std::int64_t Read(void* buffer, std::size_t count) override {
    Shared& s = *shared_;
    if (s.Pulled()) return -1;
    // A read error stops the read just before the bad byte; a read that starts on it fails.
    std::size_t allowed = count;
    for (std::size_t i = 0; i < s.faults.cardReadErrors.size(); ++i) {
      const CardByteFault& f = s.faults.cardReadErrors[i];
      if (f.file != path_ || s.errorsLeft[i] == 0 || f.offset < position_ || f.offset >= position_ + count ||
          ++s.errorReads[i] < f.fromRead) {
        continue;
      }
      const std::size_t before = f.offset - position_;
      if (before == 0) {
        --s.errorsLeft[i];
        return -1;
      }
      allowed = std::min(allowed, before);
    }
    const std::int64_t got = inner_->Read(buffer, allowed);
    if (got <= 0) return got;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < s.faults.cardFlips.size(); ++i) {
      const CardByteFault& f = s.faults.cardFlips[i];
      if (f.file != path_ || f.offset < position_ ||
          f.offset >= position_ + static_cast<std::uint64_t>(got)) {
        continue;
      }
      const std::uint32_t nth = ++s.flipReads[i];
      if (nth >= f.fromRead) bytes[f.offset - position_] ^= f.mask;
    }
    position_ += static_cast<std::uint64_t>(got);
    return got;
  }

  std::int64_t Write(const void* buffer, std::size_t count) override {
    Shared& s = *shared_;
    if (s.ReadOnly()) return -1;
    std::size_t allowed = count;
    if (s.faults.cardFullAfter) {
      const std::uint64_t room =
          s.written < *s.faults.cardFullAfter ? *s.faults.cardFullAfter - s.written : 0;
      allowed = static_cast<std::size_t>(std::min<std::uint64_t>(allowed, room));
      if (allowed == 0 && count > 0) return -1;
    }
    if (path_ == kLogPath && s.CutAt(PowerCutPoint::At::kLogWrite) &&
        ++s.logWrites == std::max<std::uint64_t>(s.faults.powerCut.value, 1)) {
      // The power goes while the card takes the line: half of it lands.
      const std::int64_t half = inner_->Write(buffer, allowed / 2);
      if (half > 0) s.written += static_cast<std::uint64_t>(half);
      inner_->Close();
      s.cut();
    }
    const std::int64_t put = inner_->Write(buffer, allowed);
    if (put > 0) {
      s.written += static_cast<std::uint64_t>(put);
      position_ += static_cast<std::uint64_t>(put);
    }
    return put;
  }

  std::int64_t Seek(std::int64_t offset, int whence) override {
    if (shared_->Pulled()) return -1;
    const std::int64_t at = inner_->Seek(offset, whence);
    if (at >= 0) position_ = static_cast<std::uint64_t>(at);
    return at;
  }

  bool Close() override { return inner_->Close() && !shared_->Pulled(); }

 private:
  using Shared = FaultyCard::Shared;
  std::unique_ptr<CardHandle> inner_;
  std::string path_;
  std::shared_ptr<Shared> shared_;
  std::uint64_t position_ = 0;
};

}  // namespace

FaultyCard::FaultyCard(std::shared_ptr<CardStorage> inner, const FaultProfile& faults, const Clock& clock,
                       std::function<void()> cut)
    : inner_(std::move(inner)),
      shared_(std::make_shared<Shared>(Shared{faults, clock, std::move(cut), {}, {}})) {
  for (const CardByteFault& f : faults.cardReadErrors) shared_->errorsLeft.push_back(f.times);
  shared_->flipReads.assign(faults.cardFlips.size(), 0);
  shared_->errorReads.assign(faults.cardReadErrors.size(), 0);
}

void FaultyCard::PullAt(std::uint64_t nanoseconds) {
  std::optional<std::uint64_t>& at = shared_->faults.cardPulledAtNs;
  if (!at || nanoseconds < *at) at = nanoseconds;
}

bool FaultyCard::Present() const {
  return !shared_->Pulled() && inner_->Present();
}

CardEntry FaultyCard::Kind(const std::string& path, bool followLinks) const {
  return shared_->Pulled() ? CardEntry::kNone : inner_->Kind(path, followLinks);
}

std::unique_ptr<CardHandle> FaultyCard::Open(const std::string& path, CardOpenMode mode) {
  if (shared_->Pulled()) return nullptr;
  if ((mode.write || mode.create || mode.truncate || mode.append) && shared_->ReadOnly()) return nullptr;
  auto handle = inner_->Open(path, mode);
  if (!handle) return nullptr;
  return std::make_unique<FaultyHandle>(std::move(handle), path, shared_);
}

std::optional<std::vector<std::string>> FaultyCard::List(const std::string& path) const {
  if (shared_->Pulled()) return std::nullopt;
  return inner_->List(path);
}

bool FaultyCard::Remove(const std::string& path) {
  Shared& s = *shared_;
  if (s.ReadOnly()) return false;
  ++s.removals;
  if ((s.removals == 1 && s.CutAt(PowerCutPoint::At::kBeforeDelete)) ||
      (s.removals == 2 && s.CutAt(PowerCutPoint::At::kBetweenDeletes))) {
    s.cut();
  }
  return inner_->Remove(path);
}

}  // namespace sim
