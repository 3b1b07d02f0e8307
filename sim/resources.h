// The platform's resource block: the sound cues and the logo icon, as the module finds them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/profile.h"

namespace sim {

constexpr std::uint32_t kSoundType = 0x736E6420;  // 'snd '
constexpr std::uint32_t kIconType = 0x6369636E;   // 'cicn'
constexpr std::int32_t kLogoIconId = -8888;
constexpr std::int16_t kFirstSoundId = -1001;
constexpr std::int16_t kLastSoundId = -1010;
constexpr int kLogoWidth = 40;
constexpr int kLogoHeight = 28;

// A sound resource: a big-endian header {sample offset 12, rate, count}, then 8-bit PCM.
std::vector<std::uint8_t> MakeSoundResource(std::int16_t id);
// A cue's samples at 8000 a second, 8-bit offset binary: a sine of `hertz` at 100 levels from the middle,
// faded in and out over 80 samples.
void ToneSamples(double hertz, std::span<std::uint8_t> out);
// The icon resource: big-endian u16 width, u16 height, then width × height RGB bytes.
std::vector<std::uint8_t> MakeLogoIconResource();

// Looks a resource up in a block laid out by Resources (the original or the module's copy).
std::optional<std::span<const std::uint8_t>> FindResource(const void* block, std::uint32_t type,
                                                          std::int32_t id);

class Resources {
 public:
  explicit Resources(const Profile& profile);

  void* block() { return block_.get(); }
  std::uint32_t blockSize() const { return size_; }

  // In the block the platform now reads from (kRMFlashBaseAddress).
  std::optional<std::span<const std::uint8_t>> Find(std::uint32_t type, std::int32_t id) const;

  // The sound whose samples these are, by content; a sound missing from the block is never matched.
  std::optional<std::int16_t> IdentifySound(const std::uint8_t* samples, std::uint32_t rate,
                                            std::uint32_t count) const;
  // How long a play of these samples lasts.
  static std::uint64_t SoundNanoseconds(std::uint32_t rate, std::uint32_t count);

 private:
  std::unique_ptr<std::uint32_t[]> block_;  // word-aligned, as the platform's is
  std::uint32_t size_ = 0;
};

}  // namespace sim
