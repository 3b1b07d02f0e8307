// Event manager, application manager and the real-time clock.
#pragma once

#include <cstdint>

namespace vestra {

// Fields are big-endian at fixed offsets; read them byte by byte.
struct EventRecord {
  std::uint8_t bytes[16];
};

// The record's fields: its kind (16 bits) first; a key event's state and code (16 bits each), another
// event's value (32 bits).
constexpr std::uint32_t kEventKindOffset = 0;
constexpr std::uint32_t kEventValueOffset = 8;
constexpr std::uint32_t kEventKeyStateOffset = 10;
constexpr std::uint32_t kEventKeyCodeOffset = 14;

constexpr std::uint16_t kEventKindKey = 2;
constexpr std::uint16_t kEventKindOther = 4;

// Key codes, of key events and as the value of other events.
constexpr std::uint16_t kKeyPower = 1;
constexpr std::uint16_t kKeyRight = 12;
constexpr std::uint16_t kKeyCentre = 13;
constexpr std::uint16_t kKeyLeft = 14;
constexpr std::uint16_t kKeyDebug = 106;

std::int16_t EMOpen(std::uint8_t appID, std::int32_t flags);
// 0 when an event was delivered into *record.
std::int16_t EMGetEvent(std::uint8_t appID, EventRecord** record);
void EMReleaseEventRecord(EventRecord* record);

std::int16_t AMGetSelfAppID(std::uint8_t* appID);

std::uint32_t CKReadRealTimeClock();  // seconds

}  // namespace vestra
