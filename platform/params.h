// Parameter store: product information, current settings, capabilities, EEPROM.
#pragma once

#include <cstdint>

namespace vestra {

// The value lies from byte 8: a text, or a big-endian 32-bit number.
struct PARMValueRecord {
  std::uint8_t bytes[40];
};

std::int16_t PARMGetProductInfo(const char* name, PARMValueRecord* value);
std::int16_t PARMGetCurrentSetting(const char* name, PARMValueRecord* value);
// *capability receives the platform's record; its words are big-endian.
std::int16_t PARMGetCapability(const char* name, const std::uint8_t** capability, std::uint32_t* second);

std::int16_t PRAMSetKeyedParameter(std::uint32_t key, const void* value);
std::int16_t pramFlushToEEPROM();

}  // namespace vestra
