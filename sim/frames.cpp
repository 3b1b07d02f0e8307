#include "sim/frames.h"

#include <algorithm>
#include <cmath>

#ifdef VESTRA_WITH_PNG
#include "sim/png_writer.h"
#endif

namespace sim {
namespace {

std::uint8_t Clamp8(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

constexpr std::uint8_t kSheetGrey = 40;

}  // namespace

Rgb YccToRgb(std::uint8_t y, std::uint8_t cb, std::uint8_t cr) {
  const double cbd = cb - 128.0;
  const double crd = cr - 128.0;
  return {Clamp8(y + 1.402 * crd), Clamp8(y - 0.344136 * cbd - 0.714136 * crd), Clamp8(y + 1.772 * cbd)};
}

RgbImage FrameToRgb(const LcdFrame& frame) {
  RgbImage image;
  if (frame.width <= 0 || frame.height <= 0 || frame.wordsPerRow * 2 < frame.width ||
      frame.words.size() < static_cast<std::size_t>(frame.wordsPerRow) * frame.height) {
    return image;
  }
  image.width = frame.width;
  image.height = frame.height;
  image.rgb.resize(static_cast<std::size_t>(frame.width) * frame.height * 3);
  std::uint8_t* out = image.rgb.data();
  for (int row = 0; row < frame.height; ++row) {
    const std::uint32_t* words = frame.words.data() + static_cast<std::size_t>(row) * frame.wordsPerRow;
    for (int x = 0; x < frame.width; ++x) {
      const std::uint32_t w = words[x / 2];
      const auto y = static_cast<std::uint8_t>((x % 2 == 0) ? w >> 24 : w >> 8);
      const Rgb c = YccToRgb(y, static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w));
      *out++ = c.r;
      *out++ = c.g;
      *out++ = c.b;
    }
  }
  return image;
}

RgbImage ContactSheet(std::span<const RgbImage> frames, int perRow, int gap) {
  RgbImage sheet;
  if (frames.empty()) return sheet;
  perRow = std::max(perRow, 1);
  gap = std::max(gap, 0);
  int cellW = 0;
  int cellH = 0;
  for (const RgbImage& f : frames) {
    cellW = std::max(cellW, f.width);
    cellH = std::max(cellH, f.height);
  }
  const int count = static_cast<int>(frames.size());
  const int cols = std::min(count, perRow);
  const int rows = (count + perRow - 1) / perRow;
  sheet.width = cols * cellW + (cols + 1) * gap;
  sheet.height = rows * cellH + (rows + 1) * gap;
  sheet.rgb.assign(static_cast<std::size_t>(sheet.width) * sheet.height * 3, kSheetGrey);
  for (int i = 0; i < count; ++i) {
    const RgbImage& f = frames[static_cast<std::size_t>(i)];
    if (f.rgb.size() < static_cast<std::size_t>(f.width) * f.height * 3) continue;
    const int x0 = gap + (i % perRow) * (cellW + gap);
    const int y0 = gap + (i / perRow) * (cellH + gap);
    for (int row = 0; row < f.height; ++row) {
      const std::size_t from = static_cast<std::size_t>(row) * f.width * 3;
      const std::size_t to = (static_cast<std::size_t>(y0 + row) * sheet.width + x0) * 3;
      std::copy_n(f.rgb.begin() + static_cast<std::ptrdiff_t>(from), static_cast<std::size_t>(f.width) * 3,
                  sheet.rgb.begin() + static_cast<std::ptrdiff_t>(to));
    }
  }
  return sheet;
}

bool PngAvailable() {
#ifdef VESTRA_WITH_PNG
  return true;
#else
  return false;
#endif
}

bool WritePng(const RgbImage& image, const std::filesystem::path& path, std::string* error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
    if (error) *error = "empty picture";
    return false;
  }
#ifdef VESTRA_WITH_PNG
  return WriteRgbPng(path, image.width, image.height, image.rgb.data(), error);
#else
  (void)path;
  if (error) *error = "PNG output is unavailable in this build";
  return false;
#endif
}

bool WriteFramePng(const LcdFrame& frame, const std::filesystem::path& path, std::string* error) {
  return WritePng(FrameToRgb(frame), path, error);
}

bool WriteContactSheetPng(std::span<const RgbImage> frames, const std::filesystem::path& path,
                          std::string* error) {
  return WritePng(ContactSheet(frames), path, error);
}

}  // namespace sim
