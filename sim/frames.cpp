#include "sim/frames.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "sim/fallback_font.h"

#ifdef VESTRA_WITH_PNG
#include "sim/png_writer.h"
#endif

namespace sim {
namespace {

std::uint8_t Clamp8(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

constexpr std::uint8_t kSheetGrey = 40;

// The colour terms of YccToRgb, rounded once per chroma value instead of three times per pixel. y is a
// whole number, so round(y + t) is y + round(t) unless t lies a rounding error away from a half: such
// values are marked and take the exact formula.
constexpr std::int16_t kExact = INT16_MIN;

std::int16_t Term(double t) {
  const double fraction = t - std::floor(t);
  if (std::fabs(fraction - 0.5) < 1e-6) return kExact;
  return static_cast<std::int16_t>(std::lround(t));
}

struct ColourTerms {
  std::array<std::int16_t, 256> red{};          // by Cr
  std::array<std::int16_t, 256> blue{};         // by Cb
  std::array<std::int16_t, 256 * 256> green{};  // by Cb, Cr
  ColourTerms() {
    for (int c = 0; c < 256; ++c) {
      red[c] = Term(1.402 * (c - 128.0));
      blue[c] = Term(1.772 * (c - 128.0));
      for (int r = 0; r < 256; ++r)
        green[c * 256 + r] = Term(-0.344136 * (c - 128.0) - 0.714136 * (r - 128.0));
    }
  }
};

const ColourTerms& Terms() {
  static const ColourTerms terms;
  return terms;
}

std::uint8_t Saturate(int v) {
  return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

}  // namespace

Rgb YccToRgb(std::uint8_t y, std::uint8_t cb, std::uint8_t cr) {
  const double cbd = cb - 128.0;
  const double crd = cr - 128.0;
  return {Clamp8(y + 1.402 * crd), Clamp8(y - 0.344136 * cbd - 0.714136 * crd), Clamp8(y + 1.772 * cbd)};
}

namespace {

bool FrameIsWhole(const LcdFrame& frame) {
  return frame.width > 0 && frame.height > 0 && frame.wordsPerRow * 2 >= frame.width &&
         frame.words.size() >= static_cast<std::size_t>(frame.wordsPerRow) * frame.height;
}

// One row of LCD words to width RGB pixels.
void RowToRgb(const std::uint32_t* words, int width, std::uint8_t* out) {
  const ColourTerms& terms = Terms();
  std::uint32_t previous = 0;
  for (int x = 0; x < width; x += 2) {
    const std::uint32_t w = words[x / 2];
    const bool pair = x + 1 < width;
    if (x > 0 && w == previous && pair) {  // flat colour: the pair before, again
      std::memcpy(out, out - 6, 6);
      out += 6;
      continue;
    }
    previous = w;
    const auto cb = static_cast<std::uint8_t>(w >> 16);
    const auto cr = static_cast<std::uint8_t>(w);
    const int r = terms.red[cr];
    const int g = terms.green[cb * 256 + cr];
    const int b = terms.blue[cb];
    for (int i = 0; i < (pair ? 2 : 1); ++i) {
      const auto y = static_cast<std::uint8_t>(i == 0 ? w >> 24 : w >> 8);
      if (r == kExact || g == kExact || b == kExact) [[unlikely]] {
        const Rgb c = YccToRgb(y, cb, cr);
        out[0] = c.r;
        out[1] = c.g;
        out[2] = c.b;
      } else {
        out[0] = Saturate(y + r);
        out[1] = Saturate(y + g);
        out[2] = Saturate(y + b);
      }
      out += 3;
    }
  }
}

}  // namespace

RgbImage FrameToRgb(const LcdFrame& frame) {
  RgbImage image;
  if (!FrameIsWhole(frame)) return image;
  image.width = frame.width;
  image.height = frame.height;
  image.rgb.resize(static_cast<std::size_t>(frame.width) * frame.height * 3);
  for (int row = 0; row < frame.height; ++row) {
    RowToRgb(frame.words.data() + static_cast<std::size_t>(row) * frame.wordsPerRow, frame.width,
             image.rgb.data() + static_cast<std::size_t>(row) * frame.width * 3);
  }
  return image;
}

namespace {

// Where the frames of a contact sheet go.
struct SheetLayout {
  int perRow = 1;
  int gap = 0;
  int cellWidth = 0;
  int cellHeight = 0;  // the tallest frame and, with captions, the caption's band under it
  int pictureHeight = 0;
  int width = 0;
  int height = 0;
  SheetLayout(std::span<const RgbImage> frames, int perRowWanted, int gapWanted, bool captions)
      : perRow(std::max(perRowWanted, 1)), gap(std::max(gapWanted, 0)) {
    if (frames.empty()) return;
    for (const RgbImage& f : frames) {
      cellWidth = std::max(cellWidth, f.width);
      pictureHeight = std::max(pictureHeight, f.height);
    }
    cellHeight = pictureHeight + (captions ? kSheetCaptionHeight - gap : 0);
    const int count = static_cast<int>(frames.size());
    const int cols = std::min(count, perRow);
    const int rows = (count + perRow - 1) / perRow;
    width = cols * cellWidth + (cols + 1) * gap;
    height = rows * cellHeight + (rows + 1) * gap;
  }
};

constexpr std::uint8_t kCaptionGrey = 224;

// Row glyphRow (of the scaled glyphs) of a caption, from x0, within width pixels.
void CaptionRow(std::string_view caption, int glyphRow, int width, std::uint8_t* out) {
  constexpr int kAdvance = 6 * kSheetCaptionScale;  // five columns and one of space
  for (std::size_t k = 0; k < caption.size(); ++k) {
    const std::uint8_t bits =
        FallbackBitmap(static_cast<unsigned char>(caption[k]))[glyphRow / kSheetCaptionScale];
    for (int column = 0; column < 5 * kSheetCaptionScale; ++column) {
      const int x = static_cast<int>(k) * kAdvance + column;
      if (x >= width) return;
      if ((bits >> (4 - column / kSheetCaptionScale)) & 1) std::fill_n(out + x * 3, 3, kCaptionGrey);
    }
  }
}

// Row y of the sheet, made on its own: a sheet is written a few rows at a time, never whole.
void SheetRow(std::span<const RgbImage> frames, std::span<const std::string> captions,
              const SheetLayout& layout, int y, std::uint8_t* out) {
  std::fill_n(out, static_cast<std::size_t>(layout.width) * 3, kSheetGrey);
  if (y < layout.gap) return;
  const int cellRow = (y - layout.gap) / (layout.cellHeight + layout.gap);
  const int dy = (y - layout.gap) % (layout.cellHeight + layout.gap);
  for (int col = 0; col < layout.perRow; ++col) {
    const auto i = static_cast<std::size_t>(cellRow) * layout.perRow + col;
    if (i >= frames.size()) break;
    const RgbImage& f = frames[i];
    const int x0 = layout.gap + col * (layout.cellWidth + layout.gap);
    const int glyphRow = dy - layout.pictureHeight - layout.gap;
    if (i < captions.size() && glyphRow >= 0 && glyphRow < 9 * kSheetCaptionScale) {
      CaptionRow(captions[i], glyphRow, layout.cellWidth, out + static_cast<std::size_t>(x0) * 3);
      continue;
    }
    if (dy >= f.height || f.rgb.size() < static_cast<std::size_t>(f.width) * f.height * 3) continue;
    std::copy_n(f.rgb.data() + static_cast<std::size_t>(dy) * f.width * 3,
                static_cast<std::size_t>(f.width) * 3, out + static_cast<std::size_t>(x0) * 3);
  }
}

}  // namespace

RgbImage ContactSheet(std::span<const RgbImage> frames, int perRow, int gap,
                      std::span<const std::string> captions) {
  const SheetLayout layout(frames, perRow, gap, !captions.empty());
  RgbImage sheet;
  if (layout.width <= 0 || layout.height <= 0) return sheet;
  sheet.width = layout.width;
  sheet.height = layout.height;
  const std::size_t stride = static_cast<std::size_t>(sheet.width) * 3;
  sheet.rgb.resize(stride * static_cast<std::size_t>(sheet.height));
  for (int y = 0; y < sheet.height; ++y) SheetRow(frames, captions, layout, y, sheet.rgb.data() + stride * y);
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
  // One piece: the whole picture in one deflate stream, each row's filter reaching the row above.
  PngPiece piece;
  DeflateRgbRows(image.rgb.data(), image.width, image.height, piece);
  return WriteRgbPng(path, image.width, std::span(&piece, 1), error);
#else
  (void)path;
  if (error) *error = "PNG output is unavailable in this build";
  return false;
#endif
}

bool WriteFramePng(const LcdFrame& frame, const std::filesystem::path& path, std::string* error) {
  return FramePngWriter().Write(frame, path, error);
}

bool WriteContactSheetPng(std::span<const RgbImage> frames, const std::filesystem::path& path,
                          std::string* error, std::span<const std::string> captions) {
#ifdef VESTRA_WITH_PNG
  const SheetLayout layout(frames, kSheetPerRow, kSheetGap, !captions.empty());
  if (layout.width <= 0 || layout.height <= 0) {
    if (error) *error = "empty picture";
    return false;
  }
  // Made a few rows at a time as they are compressed: the sheet is as large as a dozen frames.
  const std::size_t stride = static_cast<std::size_t>(layout.width) * 3;
  std::vector<std::uint8_t> rows;
  PngPiece piece;
  DeflateRgbRows(
      layout.width, layout.height,
      [&](int first, int count) {
        rows.resize(stride * static_cast<std::size_t>(count));
        for (int r = 0; r < count; ++r)
          SheetRow(frames, captions, layout, first + r, rows.data() + stride * r);
        return static_cast<const std::uint8_t*>(rows.data());
      },
      piece);
  return WriteRgbPng(path, layout.width, std::span(&piece, 1), error);
#else
  return WritePng(ContactSheet(frames, kSheetPerRow, kSheetGap, captions), path, error);
#endif
}

#ifdef VESTRA_WITH_PNG
// A frame is kept and compressed in bands of this many rows: a progress frame changes one or two, and a
// band costs little more to compress than a row.
constexpr int kBandRows = 16;

struct FramePngWriter::Bands {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> words;  // what the bands were made from: the used words of every row
  std::vector<PngPiece> pieces;      // one a band
  std::vector<std::uint8_t> rgb;     // the frame's pixels, so that a band converts only its changed rows
};
#else
struct FramePngWriter::Bands {};
#endif

FramePngWriter::FramePngWriter() : bands_(std::make_unique<Bands>()) {}
FramePngWriter::~FramePngWriter() = default;

bool FramePngWriter::Write(const LcdFrame& frame, const std::filesystem::path& path, std::string* error) {
  if (!FrameIsWhole(frame)) {
    if (error) *error = "empty picture";
    return false;
  }
#ifdef VESTRA_WITH_PNG
  Bands& b = *bands_;
  const auto used = static_cast<std::size_t>((frame.width + 1) / 2);
  const std::size_t stride = static_cast<std::size_t>(frame.width) * 3;
  if (b.width != frame.width || b.height != frame.height) {
    b = Bands{};
    b.width = frame.width;
    b.height = frame.height;
    b.words.assign(used * static_cast<std::size_t>(frame.height), 0);
    b.pieces.resize(static_cast<std::size_t>((frame.height + kBandRows - 1) / kBandRows));
    b.rgb.resize(stride * static_cast<std::size_t>(frame.height));
  }
  for (std::size_t band = 0; band < b.pieces.size(); ++band) {
    const int first = static_cast<int>(band) * kBandRows;
    const int count = std::min(kBandRows, frame.height - first);
    // An empty piece was never made, or zlib failed on it: made again either way.
    const bool made = !b.pieces[band].deflated.empty();
    bool changed = !made;
    for (int row = first; row < first + count; ++row) {
      const std::uint32_t* words = frame.words.data() + static_cast<std::size_t>(row) * frame.wordsPerRow;
      std::uint32_t* kept = b.words.data() + static_cast<std::size_t>(row) * used;
      if (made && std::equal(words, words + used, kept)) continue;
      std::copy_n(words, used, kept);
      RowToRgb(words, frame.width, b.rgb.data() + static_cast<std::size_t>(row) * stride);
      changed = true;
    }
    if (changed) {
      DeflateRgbRows(b.rgb.data() + static_cast<std::size_t>(first) * stride, frame.width, count,
                     b.pieces[band]);
    }
  }
  return WriteRgbPng(path, frame.width, b.pieces, error);
#else
  (void)path;
  if (error) *error = "PNG output is unavailable in this build";
  return false;
#endif
}

}  // namespace sim
