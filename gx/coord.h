// Screen coordinates live in 16 bits on the platform.
#pragma once

#include <cstdint>

// Narrows a coordinate computed in int; sums wrap rather than saturate, as on the camera.
constexpr std::int16_t S16(int value) {
  return static_cast<std::int16_t>(value);
}
