// PNG output over zlib; built only when zlib is there (sim/frames.cpp decides whether to call it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace sim {

// One picture row, filtered and compressed on its own, so that rows can be kept and joined into any
// picture of the same width: a run's frames differ only where the progress bar moves.
struct PngRow {
  std::vector<std::uint8_t> deflated;  // deflate blocks ending on a byte boundary, none marked final
  std::uint32_t adler = 1;             // of the filtered row, filter byte included
  std::uint32_t length = 0;            // bytes of the filtered row
};

// 8-bit RGB, width * 3 bytes.
PngRow DeflateRgbRow(const std::uint8_t* rgb, int width);

// Writes the picture atomically (a temporary file renamed into place).
bool WriteRgbPngRows(const std::filesystem::path& path, int width, std::span<const PngRow> rows,
                     std::string* error);

}  // namespace sim
