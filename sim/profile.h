// A simulated camera's description: identity, power, platform resources, flash timing and faults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct PowerProfile {
  bool external = false;
  std::uint8_t battery = 7;
  bool lcdOn = true;
};

struct PlatformProfile {
  bool soundChannel = true;
  std::vector<std::int16_t> missingSounds;
  bool logoIcon = true;
  bool driveAvailable = true;
};

struct FlashProfile {
  double eraseSeconds = 10;
  double wordProgramUs = 8;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> neverErase;    // offset, mask
  std::vector<std::pair<std::uint32_t, std::uint32_t>> neverProgram;  // offset, mask
  bool neverReady = false;
};

// An absent parameter makes its platform read fail.
struct Profile {
  std::optional<std::string> vendor{"Norvale Co., Ltd."};
  std::optional<std::string> product{"Calyte QR"};
  std::optional<std::uint32_t> serial{0x00001234};
  std::optional<std::uint32_t> firmware{0x01000000};
  std::optional<std::uint32_t> ccs{0x01000000};
  std::optional<std::uint32_t> region{1};
  std::optional<std::uint32_t> regionCapability{1};
  bool shutdownNow = false;
  PowerProfile power;
  PlatformProfile platform;
  FlashProfile flash;
};

}  // namespace sim
