// LCD frames as pictures: the LCD's Y-Cb-Y-Cr 4:2:2 words to RGB, PNG files and contact sheets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/graphics.h"

namespace sim {

constexpr int kLcdWidth = vestra::kLCDWidth;
constexpr int kLcdHeight = vestra::kLCDHeight;

// Two pixels per native 32-bit word: (Y0 << 24) | (Cb << 16) | (Y1 << 8) | Cr.
constexpr std::uint32_t PackLcdPair(std::uint8_t y0, std::uint8_t cb, std::uint8_t y1, std::uint8_t cr) {
  return (std::uint32_t{y0} << 24) | (std::uint32_t{cb} << 16) | (std::uint32_t{y1} << 8) | cr;
}

// A view of the pixels an LCD port holds; valid only during the observer call that hands it out.
struct LcdFrame {
  std::span<const std::uint32_t> words;
  int width = kLcdWidth;  // pixels
  int height = kLcdHeight;
  int wordsPerRow = kLcdWidth / 2;
  std::uint64_t index = 0;  // 1 for the first frame the LCD showed
  bool lcdOn = true;
};

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3, rows top to bottom
};

struct Rgb {
  std::uint8_t r, g, b;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The JFIF inverse transform (full range, chroma centred on 128), rounded and clamped.
Rgb YccToRgb(std::uint8_t y, std::uint8_t cb, std::uint8_t cr);
RgbImage FrameToRgb(const LcdFrame& frame);

// Frames side by side, at most perRow in a row, gap pixels of dark grey between and around them. With
// captions (one a frame), each frame has its caption printed under it in the built-in face, printable ASCII.
constexpr int kSheetPerRow = 5;
constexpr int kSheetGap = 8;
constexpr int kSheetCaptionScale = 2;  // of the built-in face's 5 x 9 glyphs
constexpr int kSheetCaptionHeight = 9 * kSheetCaptionScale + 2 * kSheetGap;
RgbImage ContactSheet(std::span<const RgbImage> frames, int perRow = kSheetPerRow, int gap = kSheetGap,
                      std::span<const std::string> captions = {});

// False (with a reason in *error when given) when the file cannot be written or this build has no PNG output.
bool PngAvailable();
bool WritePng(const RgbImage& image, const std::filesystem::path& path, std::string* error = nullptr);
bool WriteFramePng(const LcdFrame& frame, const std::filesystem::path& path, std::string* error = nullptr);
bool WriteContactSheetPng(std::span<const RgbImage> frames, const std::filesystem::path& path,
                          std::string* error = nullptr, std::span<const std::string> captions = {});

// Writes a run's frames one after another, compressing again only the bands of rows that changed since the
// frame before: most of a run's frames differ in a progress bar. The files are the same as WriteFramePng's.
class FramePngWriter {
 public:
  FramePngWriter();
  ~FramePngWriter();
  FramePngWriter(const FramePngWriter&) = delete;
  FramePngWriter& operator=(const FramePngWriter&) = delete;
  bool Write(const LcdFrame& frame, const std::filesystem::path& path, std::string* error = nullptr);

 private:
  struct Bands;
  std::unique_ptr<Bands> bands_;
};

}  // namespace sim
