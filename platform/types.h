// Basic records shared by the platform's services.
#pragma once

#include <cstdint>

namespace vestra {

// Right and bottom are exclusive.
struct Rect {
  std::int16_t top;
  std::int16_t left;
  std::int16_t bottom;
  std::int16_t right;
};

// The platform reads the three fields as Cb, Y, Cr despite the name.
struct RGBColor {
  std::uint16_t red;
  std::uint16_t green;
  std::uint16_t blue;
};

}  // namespace vestra
