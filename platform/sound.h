// Sound service.
#pragma once

#include <cstdint>

namespace vestra {

using SNDChannel = std::uint32_t;  // 0: no channel

struct SndPlayRecord {
  const std::uint8_t* samples;
  std::uint32_t word1;
  std::uint32_t word2;
};

std::int16_t SNDOpenSoundChannel(SNDChannel* channel);
std::int32_t SNDPlay(SNDChannel channel, const SndPlayRecord* record);  // returns once played
std::int32_t SNDPlayAsync(SNDChannel channel, const SndPlayRecord* record, std::int32_t a, std::int32_t b);
std::int32_t SNDKillSound(SNDChannel channel);
std::int32_t SNDCloseSoundChannel(SNDChannel channel);

}  // namespace vestra
