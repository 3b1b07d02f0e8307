// The event loop: keys, the inactivity time-out and the debug overlay blink.
#pragma once

#include <cstdint>

extern "C" std::uint8_t gShutdownNow;  // exported to the platform

[[noreturn]] void HandleEvent(std::uint16_t keyFilter);
