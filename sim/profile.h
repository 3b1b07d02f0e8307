// A simulated camera's description: identity, power, platform resources, flash timing and faults.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// Where the power goes away, when the profile asks for a cut.
struct PowerCutPoint {
  enum class At {
    kNone,
    kBusOp,           // value: the flash bus operation number (from 1)
    kTime,            // value: virtual nanoseconds
    kBeforeErase,     // as the erase command is given
    kDuringErase,     // halfway through the first erase
    kWord,            // value: halfway through the Nth word program (from 1)
    kAfterLastWord,   // as the flash is put back to reading after programming
    kBeforeDelete,    // before the first file is removed from the card
    kBetweenDeletes,  // before the second
    kLogWrite,        // value: halfway through the Nth write to the update log (from 1)
  };
  At at = At::kNone;
  std::uint64_t value = 0;
};

// A card file's byte: from the `fromRead`th read of it on, a read error there (`times` reads fail, then it
// reads again), or bits that read inverted. Paths are relative to the card's top, like "SYSTEM/X".
struct CardByteFault {
  std::string file;
  std::uint32_t offset = 0;
  std::uint8_t mask = 0;  // flips only
  std::uint32_t fromRead = 1;
  std::uint32_t times = 0xFFFFFFFF;  // read errors only
};

struct FaultProfile {
  PowerCutPoint powerCut;
  std::vector<CardByteFault> cardReadErrors;
  std::vector<CardByteFault> cardFlips;
  std::optional<std::uint64_t> cardPulledAtNs;    // every card operation fails from then on
  std::optional<std::uint64_t> cardReadOnlyAtNs;  // writes and removals fail from then on
  std::optional<std::uint64_t> cardFullAfter;     // bytes written in the run before the card is full
  bool eepromWriteFail = false;
  bool eepromFlushFail = false;
  std::vector<std::pair<std::uint64_t, std::uint8_t>> batteryAt;   // from this virtual time, this state
  std::vector<std::pair<std::uint32_t, std::uint32_t>> readFlips;  // flash [offset, mask], on read-back
  std::vector<std::string> unreadableParams;  // parameter names (kParameterNames) whose reads fail
  bool Unreadable(std::string_view name) const {
    return std::find(unreadableParams.begin(), unreadableParams.end(), name) != unreadableParams.end();
  }
  bool Card() const {
    return !cardReadErrors.empty() || !cardFlips.empty() || cardPulledAtNs || cardReadOnlyAtNs ||
           cardFullAfter || powerCut.at == PowerCutPoint::At::kBeforeDelete ||
           powerCut.at == PowerCutPoint::At::kBetweenDeletes || powerCut.at == PowerCutPoint::At::kLogWrite;
  }
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
  FaultProfile faults;
  // The power-up that follows a cut, as vupdate sweep runs it again from the card and flash the cut left. One
  // power-up on its own (vupdate run) never uses it.
  std::optional<FaultProfile> retry;
};

// The parameter names a profile may make unreadable, as the parameter store knows them.
inline constexpr std::string_view kParameterNames[] = {"vdid", "ptid", "sern",           "fwrv",
                                                       "ccsv", "rgnc", "rgnc_capability"};

// The camera of the power-up after a cut: the retry's faults (none without a retry table) in place of the
// first power-up's.
inline Profile RetryOf(const Profile& p) {
  Profile retry = p;
  retry.retry.reset();
  retry.faults = p.retry ? *p.retry : FaultProfile{};
  return retry;
}

}  // namespace sim
