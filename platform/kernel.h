// Real-time kernel calls and the start-up services without a further contract.
#pragma once

#include <cstdint>

namespace vestra {

struct SemaphoreRec;
using SEM_ID = SemaphoreRec*;
constexpr std::int32_t NO_WAIT = 0;

SEM_ID semBCreate(std::int32_t options, std::int32_t initialState);
std::int32_t semTake(SEM_ID semaphore, std::int32_t timeout);  // 0 when taken
std::int32_t semGive(SEM_ID semaphore);

constexpr std::int32_t kTicksPerSecond = 100;  // the kernel's clock, as taskDelay counts it
void taskDelay(std::int32_t ticks);
std::int32_t intLock();
void intUnlock(std::int32_t key);
void wbflush();

struct timespec {
  std::int32_t tv_sec;
  std::int32_t tv_nsec;
};
std::int32_t nanosleep(const timespec* duration, timespec* remaining);

void CMInit();
void MPUSendLens(std::int32_t value);
void MPUSetLED(std::int32_t value);

// The platform's C library allocator, and the buffer the platform leaves for the updater to release.
void* malloc(std::uint32_t size);
void free(void* pointer);
extern void* g_splash_buffer;

}  // namespace vestra
