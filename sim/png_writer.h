// PNG output over zlib; built only when zlib is there (sim/frames.cpp decides whether to call it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// Whole rows of a picture, filtered and compressed on their own, so that pieces can be kept and joined into
// any picture of the same width: a run's frames differ only where the progress bar moves.
struct PngPiece {
  std::vector<std::uint8_t> deflated;  // deflate blocks ending on a byte boundary, none marked final
  std::uint32_t crc = 0;               // of deflated: the file's chunk checksum is combined from these
  std::uint32_t adler = 1;             // of the filtered rows, filter bytes included
  std::uint64_t length = 0;            // bytes of the filtered rows
  int rows = 0;
};

// rows rows of 8-bit RGB, each width * 3 bytes, one after another. False (and an empty piece) when zlib
// cannot compress.
bool DeflateRgbRows(const std::uint8_t* rgb, int width, int rows, PngPiece& piece);

// The same with rows that need not all exist at once: source(first, count) gives rows first to
// first + count - 1 one after another, valid until its next call.
using RgbRowSource = std::function<const std::uint8_t*(int first, int count)>;
bool DeflateRgbRows(int width, int rows, const RgbRowSource& source, PngPiece& piece);

// The pieces top to bottom, written atomically (a temporary file renamed into place).
bool WriteRgbPng(const std::filesystem::path& path, int width, std::span<const PngPiece> pieces,
                 std::string* error);

}  // namespace sim
