// Event manager, application manager and the real-time clock.
#pragma once

#include <cstdint>

namespace vestra {

// Fields are big-endian at fixed offsets; read them byte by byte.
struct EventRecord {
  std::uint8_t bytes[16];
};

std::int16_t EMOpen(std::uint8_t appID, std::int32_t flags);
// 0 when an event was delivered into *record.
std::int16_t EMGetEvent(std::uint8_t appID, EventRecord** record);
void EMReleaseEventRecord(EventRecord* record);

std::int16_t AMGetSelfAppID(std::uint8_t* appID);

std::uint32_t CKReadRealTimeClock();  // seconds

}  // namespace vestra
