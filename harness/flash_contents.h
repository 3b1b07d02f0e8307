// What a flash holds: the old image, the new one, blank, or anything else. One rule for the sweep's verdicts
// and the live camera's status.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace harness {

enum class FlashContents : std::uint8_t { kOld, kErased, kPartial, kNew };

// An empty `fresh`: there is no new image to recognise.
inline FlashContents ClassifyFlash(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> old,
                                   std::span<const std::uint8_t> fresh = {}) {
  if (std::ranges::equal(flash, old)) return FlashContents::kOld;
  if (!fresh.empty() && std::ranges::equal(flash, fresh)) return FlashContents::kNew;
  if (std::ranges::all_of(flash, [](std::uint8_t b) { return b == 0xFF; })) return FlashContents::kErased;
  return FlashContents::kPartial;
}

}  // namespace harness
