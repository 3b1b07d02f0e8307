// The resource block the platform hands the module, and its lookups.
#include "sim/resources.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <numbers>

#include "platform/bytes.h"
#include "platform/resources.h"
#include "sim/camera.h"

namespace vestra {
RMSystemControlBlock gRMSystemControlBlock{};
void* kRMFlashBaseAddress = nullptr;
}  // namespace vestra

namespace sim {

namespace {

constexpr std::uint32_t kBlockMagic = 0x56525342;  // 'VRSB'
constexpr std::uint32_t kHeaderSize = sizeof(vestra::RMResourceBlockHeader);
constexpr std::uint32_t kEntrySize = 16;  // big-endian type, id, offset, size
constexpr std::uint32_t kSoundRate = 8000;
constexpr std::uint32_t kSoundOffset = 12;

// Each cue its own pitch and length, so a play can be told apart by its samples alone.
struct Tone {
  std::int16_t id;
  double hertz;
  double seconds;
};
constexpr Tone kTones[] = {
    {-1001, 523.25, 0.40},  // intro
    {-1002, 1400.0, 0.08},  // shutter
    {-1003, 1760.0, 0.04},  // soft key click
    {-1004, 880.0, 0.06},   // menu
    {-1005, 1200.0, 0.10},  // burst
    {-1006, 990.0, 0.05},   // arrow
    {-1007, 660.0, 0.07},   // repeat
    {-1008, 1320.0, 0.03},  // type
    {-1009, 330.0, 0.20},   // erase
    {-1010, 440.0, 0.30},   // alert
};

std::uint32_t Align4(std::uint32_t n) {
  return (n + 3u) & ~3u;
}

std::uint8_t SineSample(double hertz, std::uint32_t i, double edge) {
  const double s = std::sin(2 * std::numbers::pi * hertz * i / kSoundRate) * edge;
  return static_cast<std::uint8_t>(std::lround(128 + 100 * s));
}

}  // namespace

void ToneSamples(double hertz, std::span<std::uint8_t> out) {
  const auto count = static_cast<std::uint32_t>(out.size());
  // A rotating phasor instead of a sine per sample. Over a cue (even a hundred times the camera's longest) it
  // drifts from the sine by far less than 1e-6 of a level, so a sample rounds as the sine's does unless it
  // lies within 1e-6 of a half level: those few take the sine itself, and every byte is the sine's.
  const double step = 2 * std::numbers::pi * hertz / kSoundRate;
  const double turnCos = std::cos(step);
  const double turnSin = std::sin(step);
  double re = 1.0;
  double im = 0.0;
  for (std::uint32_t i = 0; i < count; ++i) {
    // A short fade at both ends keeps the cue from clicking.
    const double edge = std::min({1.0, i / 80.0, (count - i) / 80.0});
    const double level = 128 + 100 * (im * edge);
    const double whole = std::floor(level);
    const double fraction = level - whole;
    out[i] = std::abs(fraction - 0.5) > 1e-6 ? static_cast<std::uint8_t>(whole + (fraction > 0.5 ? 1 : 0))
                                             : SineSample(hertz, i, edge);
    const double nextRe = re * turnCos - im * turnSin;
    im = re * turnSin + im * turnCos;
    re = nextRe;
  }
}

std::vector<std::uint8_t> MakeSoundResource(std::int16_t id) {
  const auto tone =
      std::find_if(std::begin(kTones), std::end(kTones), [id](const Tone& t) { return t.id == id; });
  if (tone == std::end(kTones)) return {};
  const auto count = static_cast<std::uint32_t>(std::lround(kSoundRate * tone->seconds));
  std::vector<std::uint8_t> res(kSoundOffset + count);
  vestra::StoreBE32(res.data() + 0, kSoundOffset);
  vestra::StoreBE32(res.data() + 4, kSoundRate);
  vestra::StoreBE32(res.data() + 8, count);
  ToneSamples(tone->hertz, std::span(res).subspan(kSoundOffset));
  return res;
}

namespace {
// The tones are the same for every camera: synthesised once per process.
const std::vector<std::uint8_t>& SoundResource(std::int16_t id) {
  static std::mutex mutex;
  static std::map<std::int16_t, std::vector<std::uint8_t>> made;
  const std::lock_guard<std::mutex> lock(mutex);
  auto it = made.find(id);
  if (it == made.end()) it = made.emplace(id, MakeSoundResource(id)).first;
  return it->second;
}
}  // namespace

std::vector<std::uint8_t> MakeLogoIconResource() {
  std::vector<std::uint8_t> res(4 + kLogoWidth * kLogoHeight * 3);
  vestra::StoreBE16(res.data(), kLogoWidth);
  vestra::StoreBE16(res.data() + 2, kLogoHeight);
  // A white V over a navy field with an orange bar under it.
  constexpr int kMargin = 6, kTop = 3, kBottom = 20, kBar = 23;
  for (int y = 0; y < kLogoHeight; ++y) {
    for (int x = 0; x < kLogoWidth; ++x) {
      std::uint8_t rgb[3] = {0x1A, 0x2A, 0x6C};
      if (y >= kTop && y <= kBottom) {
        const double t = static_cast<double>(y - kTop) / (kBottom - kTop);
        const double half = (kLogoWidth - 2 * kMargin) / 2.0;
        const double left = kMargin + half * t;
        const double right = kLogoWidth - kMargin - half * t;
        if (std::abs(x - left) < 2.2 || std::abs(x - right) < 2.2) rgb[0] = rgb[1] = rgb[2] = 0xFF;
      }
      if (y >= kBar && y <= kBar + 1 && x >= kMargin && x < kLogoWidth - kMargin) {
        rgb[0] = 0xF0;
        rgb[1] = 0x8C;
        rgb[2] = 0x1E;
      }
      std::memcpy(res.data() + 4 + (y * kLogoWidth + x) * 3, rgb, 3);
    }
  }
  return res;
}

std::optional<std::span<const std::uint8_t>> FindResource(const void* block, std::uint32_t type,
                                                          std::int32_t id) {
  if (block == nullptr) return std::nullopt;
  const auto* header = static_cast<const vestra::RMResourceBlockHeader*>(block);
  if (header->word0 != kBlockMagic) return std::nullopt;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  const std::uint32_t size = header->size;
  const std::uint32_t count = header->word1;
  if (count > (size - kHeaderSize) / kEntrySize) return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = bytes + kHeaderSize + i * kEntrySize;
    if (vestra::LoadBE32(e) != type || static_cast<std::int32_t>(vestra::LoadBE32(e + 4)) != id) continue;
    const std::uint32_t offset = vestra::LoadBE32(e + 8);
    const std::uint32_t length = vestra::LoadBE32(e + 12);
    if (offset > size || length > size - offset) return std::nullopt;
    return std::span<const std::uint8_t>(bytes + offset, length);
  }
  return std::nullopt;
}

Resources::Resources(const Profile& profile) {
  struct Item {
    std::uint32_t type;
    std::int32_t id;
    std::vector<std::uint8_t> data;
  };
  std::vector<Item> items;
  const auto& missing = profile.platform.missingSounds;
  for (std::int16_t id = kFirstSoundId; id >= kLastSoundId; --id) {
    if (std::find(missing.begin(), missing.end(), id) != missing.end()) continue;
    items.push_back({kSoundType, id, SoundResource(id)});
  }
  if (profile.platform.logoIcon) {
    static const std::vector<std::uint8_t> logo = MakeLogoIconResource();  // the same for every camera
    items.push_back({kIconType, kLogoIconId, logo});
  }

  std::uint32_t offset = Align4(kHeaderSize + kEntrySize * static_cast<std::uint32_t>(items.size()));
  std::vector<std::uint32_t> offsets;
  for (const auto& item : items) {
    offsets.push_back(offset);
    offset = Align4(offset + static_cast<std::uint32_t>(item.data.size()));
  }
  size_ = offset;
  block_ = std::make_unique<std::uint32_t[]>(size_ / 4);
  auto* header = reinterpret_cast<vestra::RMResourceBlockHeader*>(block_.get());
  header->word0 = kBlockMagic;
  header->word1 = static_cast<std::uint32_t>(items.size());
  header->size = size_;
  auto* bytes = reinterpret_cast<std::uint8_t*>(block_.get());
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::uint8_t* e = bytes + kHeaderSize + i * kEntrySize;
    vestra::StoreBE32(e, items[i].type);
    vestra::StoreBE32(e + 4, static_cast<std::uint32_t>(items[i].id));
    vestra::StoreBE32(e + 8, offsets[i]);
    vestra::StoreBE32(e + 12, static_cast<std::uint32_t>(items[i].data.size()));
    std::memcpy(bytes + offsets[i], items[i].data.data(), items[i].data.size());
  }
}

std::optional<std::span<const std::uint8_t>> Resources::Find(std::uint32_t type, std::int32_t id) const {
  return FindResource(vestra::kRMFlashBaseAddress, type, id);
}

std::optional<std::int16_t> Resources::IdentifySound(const std::uint8_t* samples, std::uint32_t rate,
                                                     std::uint32_t count) const {
  if (samples == nullptr) return std::nullopt;
  for (std::int16_t id = kFirstSoundId; id >= kLastSoundId; --id) {
    const auto res = FindResource(block_.get(), kSoundType, id);
    if (!res || res->size() < kSoundOffset) continue;
    const std::uint8_t* head = res->data();
    const std::uint32_t offset = vestra::LoadBE32(head);
    if (vestra::LoadBE32(head + 4) != rate || vestra::LoadBE32(head + 8) != count) continue;
    if (offset > res->size() || count > res->size() - offset) continue;
    if (std::memcmp(head + offset, samples, count) == 0) return id;
  }
  return std::nullopt;
}

std::uint64_t Resources::SoundNanoseconds(std::uint32_t rate, std::uint32_t count) {
  if (rate == 0) return 0;
  return std::uint64_t{count} * 1'000'000'000ULL / rate;
}

}  // namespace sim

namespace vestra {

std::int16_t RMGetResource(const RMResourceKey* key, void** data, std::uint32_t* size) {
  constexpr std::int16_t kResourceNotFound = -192;
  if (key == nullptr || data == nullptr || size == nullptr) return -1;
  sim::Camera& camera = sim::Current();
  if (camera.ResourcesInFlash() && camera.FlashEraseBegan()) ++camera.flashResourceReads;
  const auto res = camera.resources().Find(key->type, key->id);
  if (!res) return kResourceNotFound;
  *data = const_cast<std::uint8_t*>(res->data());
  *size = static_cast<std::uint32_t>(res->size());
  return 0;
}

}  // namespace vestra
