// The parameter store: identity and settings from the camera's profile, the EEPROM region.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/bytes.h"
#include "platform/params.h"
#include "sim/camera.h"

namespace {

constexpr std::int16_t kParamNotFound = -1;
constexpr std::int16_t kParamBadArgument = -2;
constexpr std::int16_t kParamWriteFailed = -3;
constexpr std::uint32_t kRegionKey = 0x72676E63;  // 'rgnc'
constexpr std::size_t kValueOffset = 8;
constexpr std::size_t kRegionCapabilityOffset = 40;

// Bytes 0..7 carry the name and the value's kind, as the platform's records do.
void Head(vestra::PARMValueRecord* value, std::string_view name, bool text) {
  std::memset(value->bytes, 0, sizeof value->bytes);
  std::memcpy(value->bytes, name.data(), std::min<std::size_t>(name.size(), 4));
  value->bytes[7] = text ? 1 : 2;
}

std::int16_t Text(vestra::PARMValueRecord* value, std::string_view name,
                  const std::optional<std::string>& v) {
  if (!v) return kParamNotFound;
  Head(value, name, true);
  // At most 31 characters and the terminator fit from byte 8.
  const std::size_t room = sizeof value->bytes - kValueOffset - 1;
  std::memcpy(value->bytes + kValueOffset, v->data(), std::min(v->size(), room));
  return 0;
}

std::int16_t Number(vestra::PARMValueRecord* value, std::string_view name,
                    const std::optional<std::uint32_t>& v) {
  if (!v) return kParamNotFound;
  Head(value, name, false);
  vestra::StoreBE32(value->bytes + kValueOffset, *v);
  return 0;
}

}  // namespace

namespace vestra {

std::int16_t PARMGetProductInfo(const char* name, PARMValueRecord* value) {
  if (name == nullptr || value == nullptr) return kParamBadArgument;
  const sim::Profile& p = sim::Current().profile();
  const std::string_view n(name);
  if (p.faults.Unreadable(n)) return kParamNotFound;
  if (n == "vdid") return Text(value, n, p.vendor);
  if (n == "ptid") return Text(value, n, p.product);
  if (n == "sern") return Number(value, n, p.serial);
  if (n == "fwrv") return Number(value, n, p.firmware);
  if (n == "ccsv") return Number(value, n, p.ccs);
  return kParamNotFound;
}

std::int16_t PARMGetCurrentSetting(const char* name, PARMValueRecord* value) {
  if (name == nullptr || value == nullptr) return kParamBadArgument;
  const std::string_view n(name);
  const sim::Profile& p = sim::Current().profile();
  if (n == "rgnc") return p.faults.Unreadable(n) ? kParamNotFound : Number(value, n, p.region);
  return kParamNotFound;
}

std::int16_t PARMGetCapability(const char* name, const std::uint8_t** capability, std::uint32_t* second) {
  if (name == nullptr || capability == nullptr) return kParamBadArgument;
  sim::Camera& camera = sim::Current();
  const auto& cap = camera.profile().regionCapability;
  if (std::string_view(name) != "rgnc" || !cap || camera.profile().faults.Unreadable("rgnc_capability")) {
    return kParamNotFound;
  }
  auto& record = camera.capabilityRecord;
  std::fill(record.begin(), record.end(), std::uint8_t{0});
  StoreBE32(record.data(), kRegionKey);
  StoreBE32(record.data() + kRegionCapabilityOffset, *cap);
  *capability = record.data();
  if (second != nullptr) *second = 0;
  return 0;
}

std::int16_t PRAMSetKeyedParameter(std::uint32_t key, const void* value) {
  sim::Camera& camera = sim::Current();
  if (key != kRegionKey || value == nullptr) return kParamBadArgument;
  if (camera.failParameterWrite) return kParamWriteFailed;
  std::uint32_t region;
  std::memcpy(&region, value, sizeof region);  // the caller's own word, in its own order
  camera.pendingRegion = region;
  return 0;
}

std::int16_t pramFlushToEEPROM() {
  sim::Camera& camera = sim::Current();
  if (camera.failEepromFlush) return kParamWriteFailed;
  if (camera.pendingRegion) {
    camera.eepromRegion = camera.pendingRegion;
    camera.pendingRegion.reset();
  }
  return 0;
}

}  // namespace vestra
