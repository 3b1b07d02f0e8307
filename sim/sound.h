// The sound service: one channel, every play recorded, playing time spent on the virtual clock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/sound.h"
#include "sim/camera.h"

namespace sim {

class SoundService {
 public:
  explicit SoundService(Camera& camera) : camera_(camera) {}

  std::int16_t OpenChannel(vestra::SNDChannel* channel);
  std::int32_t Play(vestra::SNDChannel channel, const vestra::SndPlayRecord* record, bool wait);
  std::int32_t Kill(vestra::SNDChannel channel);
  std::int32_t CloseChannel(vestra::SNDChannel channel);

  // Every play in order; id 0 when the samples were not one of the platform's sounds.
  const std::vector<SoundPlay>& plays() const { return plays_; }
  bool channelOpen() const { return open_; }
  int kills() const { return kills_; }

  // Writes the recorded cues one after another as an 8-bit mono WAV file.
  bool WriteWav(const std::filesystem::path& file) const;

 private:
  Camera& camera_;
  std::vector<SoundPlay> plays_;
  bool open_ = false;
  int kills_ = 0;
};

}  // namespace sim
