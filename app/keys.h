// Key codes of key events.
#pragma once

#include <cstdint>

constexpr std::int32_t kKeyPower = 1;
constexpr std::int32_t kKeyRight = 12;
constexpr std::int32_t kKeyCentre = 13;
constexpr std::int32_t kKeyLeft = 14;
constexpr std::int32_t kKeyDebug = 106;
