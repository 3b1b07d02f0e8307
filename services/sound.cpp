// Sound cues: copied into RAM at start-up so that playing never reads the resources (or the flash).
#include "services/sound.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/resources.h"

namespace {

struct SoundSlot {
  std::int16_t id;
  std::uint8_t** slot;
};

// The order of loading.
constexpr SoundSlot kSlots[] = {
    {kUIAlertSnd, &AlertSndRsrcPtr},     {kUIEraseSnd, &EraseSndRsrcPtr},   {kUIIntroSnd, &IntroSndRsrcPtr},
    {kUIBurstSnd, &BurstSndRsrcPtr},     {kUIRepeatSnd, &RepeatSndRsrcPtr}, {kUIArrowSnd, &ArrowSndRsrcPtr},
    {kUISoftkeySnd, &SoftkeySndRsrcPtr}, {kUITypeSnd, &TypeSndRsrcPtr},
};

std::uint8_t** SlotFor(std::int16_t id) {
  for (const SoundSlot& entry : kSlots) {
    if (entry.id == id) return entry.slot;
  }
  return nullptr;
}

}  // namespace

std::int16_t GetSound(std::int16_t id, std::uint8_t** slot) {
  const vestra::RMResourceKey key{vestra::kSoundResourceType, id, 0};
  void* data = nullptr;
  std::uint32_t size = 0;
  const std::int16_t error = vestra::RMGetResource(&key, &data, &size);
  if (error != 0) {
    *slot = nullptr;
    return error;
  }
  *slot = static_cast<std::uint8_t*>(vestra::MMCaptureBufferMalloc(size));
  if (*slot == nullptr) return -1;
  std::memcpy(*slot, data, size);
  return 0;
}

void SetupSound() {
  for (const SoundSlot& entry : kSlots) GetSound(entry.id, entry.slot);
}

std::int16_t PlaySound(std::int16_t id, std::uint8_t wait) {
  std::uint8_t** slot = SlotFor(id);
  if (slot == nullptr || *slot == nullptr) return kSoundNotLoaded;
  const std::uint8_t* copy = *slot;
  const vestra::SndPlayRecord record{copy + vestra::LoadBE32(copy), vestra::LoadBE32(copy + 4),
                                     vestra::LoadBE32(copy + 8)};
  const std::int32_t result = wait != 0 ? vestra::SNDPlay(gSoundChannel, &record)
                                        : vestra::SNDPlayAsync(gSoundChannel, &record, 0, 0);
  return static_cast<std::int16_t>(result);
}
