// What a real card does to a camera: read errors, bytes that read differently the second time, a card pulled
// out, turned read-only or full, a power cut in the middle of a write or between removals. A layer over any
// card storage, so the folder and the memory card both have them.
#pragma once

#include <functional>
#include <memory>

#include "sim/card_storage.h"
#include "sim/clock.h"
#include "sim/profile.h"

namespace sim {

class FaultyCard final : public CardStorage {
 public:
  // cut takes the power away (it throws).
  FaultyCard(std::shared_ptr<CardStorage> inner, const FaultProfile& faults, const Clock& clock,
             std::function<void()> cut);

  bool Present() const override;
  bool Reaches(const std::string& path) const override { return inner_->Reaches(path); }
  CardEntry Kind(const std::string& path, bool followLinks) const override;
  std::unique_ptr<CardHandle> Open(const std::string& path, CardOpenMode mode) override;
  std::optional<std::vector<std::string>> List(const std::string& path) const override;
  bool Remove(const std::string& path) override;

  // A person takes the card out: from this virtual time on it is absent, as a pull the profile names.
  void PullAt(std::uint64_t nanoseconds);

  // The state every handle shares.
  struct Shared;

 private:
  std::shared_ptr<CardStorage> inner_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace sim
