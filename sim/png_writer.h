// The libpng writer; built only when libpng is there (sim/frames.cpp decides whether to call it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace sim {

// 8-bit RGB, rows top to bottom, width * height * 3 bytes.
bool WriteRgbPng(const std::filesystem::path& path, int width, int height, const std::uint8_t* rgb,
                 std::string* error);

}  // namespace sim
