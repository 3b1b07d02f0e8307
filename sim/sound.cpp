// Plays are recorded by the sound they carry, recognised from the samples the module hands over.
#include "sim/sound.h"

#include <fstream>

#include "platform/bytes.h"
#include "sim/memory.h"
#include "sim/resources.h"

namespace sim {

namespace {
constexpr vestra::SNDChannel kChannel = 1;
constexpr std::int32_t kBadChannel = -1;
constexpr std::uint32_t kWavRate = 8000;
}  // namespace

std::int16_t SoundService::OpenChannel(vestra::SNDChannel* channel) {
  if (channel == nullptr) return -1;
  if (!camera_.profile().platform.soundChannel) {
    *channel = 0;
    return -1;
  }
  open_ = true;
  *channel = kChannel;
  return 0;
}

std::int32_t SoundService::Play(vestra::SNDChannel channel, const vestra::SndPlayRecord* record, bool wait) {
  if (!open_ || channel != kChannel || record == nullptr) return kBadChannel;
  const std::uint32_t rate = record->word1;
  const std::uint32_t count = record->word2;
  // Only read samples that lie in memory the camera handed out.
  std::int16_t id = 0;
  if (camera_.memory().Contains(record->samples, count)) {
    id = camera_.resources().IdentifySound(record->samples, rate, count).value_or(0);
  }
  plays_.push_back(SoundPlay{id, wait});
  if (wait) camera_.clock().AdvanceNanoseconds(Resources::SoundNanoseconds(rate, count));
  return 0;
}

std::int32_t SoundService::Kill(vestra::SNDChannel channel) {
  if (!open_ || channel != kChannel) return kBadChannel;
  ++kills_;
  return 0;
}

std::int32_t SoundService::CloseChannel(vestra::SNDChannel channel) {
  if (!open_ || channel != kChannel) return kBadChannel;
  open_ = false;
  return 0;
}

bool SoundService::WriteWav(const std::filesystem::path& file) const {
  std::vector<std::uint8_t> pcm;
  for (const auto& play : plays_) {
    const auto res = MakeSoundResource(play.id);
    if (res.size() > 12) pcm.insert(pcm.end(), res.begin() + 12, res.end());
    pcm.insert(pcm.end(), kWavRate / 10, 128);  // a tenth of a second between cues
  }
  auto le32 = [](std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  std::uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0,   0,   'W', 'A', 'V', 'E', 'f', 'm', 't',
                        ' ', 16,  0,   0,   0, 1, 0,   1,   0,   0,   0,   0,   0,   0,   0,
                        0,   0,   1,   0,   8, 0, 'd', 'a', 't', 'a', 0,   0,   0,   0};
  const auto size = static_cast<std::uint32_t>(pcm.size());
  le32(h + 4, 36 + size);
  le32(h + 24, kWavRate);
  le32(h + 28, kWavRate);
  le32(h + 40, size);
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(h), sizeof h);
  out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));
  return static_cast<bool>(out);
}

}  // namespace sim

namespace vestra {

std::int16_t SNDOpenSoundChannel(SNDChannel* channel) {
  return sim::Current().sound().OpenChannel(channel);
}
std::int32_t SNDPlay(SNDChannel channel, const SndPlayRecord* record) {
  return sim::Current().sound().Play(channel, record, true);
}
std::int32_t SNDPlayAsync(SNDChannel channel, const SndPlayRecord* record, std::int32_t, std::int32_t) {
  return sim::Current().sound().Play(channel, record, false);
}
std::int32_t SNDKillSound(SNDChannel channel) {
  return sim::Current().sound().Kill(channel);
}
std::int32_t SNDCloseSoundChannel(SNDChannel channel) {
  return sim::Current().sound().CloseChannel(channel);
}

}  // namespace vestra
