// LCD frames as pictures: the colour of each pixel, and the PNG files that hold them.
#include "sim/frames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef VESTRA_WITH_PNG
#include <zlib.h>

#include "sim_fixture.h"
#endif

namespace {

sim::Rgb PixelOf(const sim::RgbImage& image, int x, int y) {
  const std::size_t i = (static_cast<std::size_t>(y) * image.width + x) * 3;
  return {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]};
}

TEST(FramesTest, LumaChromaBecomesRgbByTheJfifInverse) {
  struct Case {
    std::uint8_t y, cb, cr;
    sim::Rgb rgb;
  };
  const Case cases[] = {
      {16, 128, 128, {16, 16, 16}},   {255, 128, 128, {255, 255, 255}}, {76, 84, 255, {254, 0, 0}},
      {225, 16, 148, {253, 249, 27}}, {255, 255, 255, {255, 121, 255}}, {0, 0, 0, {0, 135, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(sim::YccToRgb(c.y, c.cb, c.cr), c.rgb) << int{c.y};
}

TEST(FramesTest, EachPixelKeepsItsOwnLumaAndATooSmallFrameGivesNoPicture) {
  std::vector<std::uint32_t> words(sim::kLcdWidth / 2 * sim::kLcdHeight, 0x10801080);
  words[0] = sim::PackLcdPair(255, 128, 16, 128);  // white, then black, sharing neutral chroma
  sim::LcdFrame frame;
  frame.words = words;
  const sim::RgbImage image = sim::FrameToRgb(frame);
  ASSERT_EQ(image.width, 360);
  ASSERT_EQ(image.height, 287);
  EXPECT_EQ(PixelOf(image, 0, 0), (sim::Rgb{255, 255, 255}));
  EXPECT_EQ(PixelOf(image, 1, 0), (sim::Rgb{16, 16, 16}));
  EXPECT_EQ(PixelOf(image, 359, 286), (sim::Rgb{16, 16, 16}));
  frame.words = frame.words.first(100);
  EXPECT_EQ(sim::FrameToRgb(frame).rgb.size(), 0u);
}

}  // namespace

// A frame's conversion goes through tables; it must give the formula's colour for every luma and chroma.
TEST(FramesTest, FramesConvertEveryColourExactlyAsTheFormula) {
  sim::LcdFrame frame;
  frame.width = 256;  // one luma per column
  frame.height = 256;
  frame.wordsPerRow = 128;
  std::vector<std::uint32_t> words(128 * 256);
  frame.words = words;
  int mismatches = 0;
  for (int cb = 0; cb < 256; ++cb) {
    for (int cr = 0; cr < 256; ++cr) {
      for (int i = 0; i < 128; ++i) {
        words[static_cast<std::size_t>(cr) * 128 + i] =
            sim::PackLcdPair(static_cast<std::uint8_t>(2 * i), static_cast<std::uint8_t>(cb),
                             static_cast<std::uint8_t>(2 * i + 1), static_cast<std::uint8_t>(cr));
      }
    }
    const sim::RgbImage image = sim::FrameToRgb(frame);
    for (int cr = 0; cr < 256 && mismatches < 5; ++cr) {
      for (int y = 0; y < 256; ++y) {
        const sim::Rgb want = sim::YccToRgb(static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(cb),
                                            static_cast<std::uint8_t>(cr));
        if (PixelOf(image, y, cr) == want) continue;
        ADD_FAILURE() << "y " << y << " cb " << cb << " cr " << cr;
        ++mismatches;
      }
    }
  }
}

#ifdef VESTRA_WITH_PNG
namespace {

namespace fs = std::filesystem;

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The picture an 8-bit RGB PNG file holds, read with zlib's inflate, which checks the Adler-32; every chunk's
// CRC is checked here. An empty picture when the file cannot be read at all.
sim::RgbImage ReadPng(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> d{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (d.size() < 8 || !std::equal(signature, signature + 8, d.begin())) {
    ADD_FAILURE() << path << " is no PNG file";
    return {};
  }
  sim::RgbImage image;
  std::vector<std::uint8_t> idat;
  for (std::size_t p = 8; p + 12 <= d.size();) {
    const std::size_t length = Be32(&d[p]);
    if (p + 12 + length > d.size()) break;
    const std::string type(d.begin() + static_cast<std::ptrdiff_t>(p) + 4,
                           d.begin() + static_cast<std::ptrdiff_t>(p) + 8);
    EXPECT_EQ(crc32(0, &d[p + 4], static_cast<uInt>(length + 4)), Be32(&d[p + 8 + length])) << type;
    const std::uint8_t* body = &d[p + 8];
    if (type == "IHDR") {
      image.width = static_cast<int>(Be32(body));
      image.height = static_cast<int>(Be32(body + 4));
      EXPECT_EQ(std::vector<std::uint8_t>(body + 8, body + 13), (std::vector<std::uint8_t>{8, 2, 0, 0, 0}));
    } else if (type == "IDAT") {
      idat.insert(idat.end(), body, body + length);
    }
    p += 12 + length;
  }
  const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
  std::vector<std::uint8_t> raw((stride + 1) * static_cast<std::size_t>(image.height) + 1);
  z_stream z{};
  inflateInit(&z);
  z.next_in = idat.data();
  z.avail_in = static_cast<uInt>(idat.size());
  z.next_out = raw.data();
  z.avail_out = static_cast<uInt>(raw.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << path << ": " << (z.msg ? z.msg : "");
  EXPECT_EQ(z.total_out, raw.size() - 1) << path;
  EXPECT_EQ(z.avail_in, 0u) << path;
  inflateEnd(&z);
  image.rgb.assign(stride * static_cast<std::size_t>(image.height), 0);
  for (std::size_t y = 0; y < static_cast<std::size_t>(image.height); ++y) {
    const std::uint8_t filter = raw[y * (stride + 1)];
    const std::uint8_t* in = &raw[y * (stride + 1) + 1];
    std::uint8_t* row = &image.rgb[y * stride];
    for (std::size_t i = 0; i < stride; ++i) {
      const int a = i >= 3 ? row[i - 3] : 0;
      const int b = y > 0 ? row[i - stride] : 0;
      const int c = i >= 3 && y > 0 ? row[i - stride - 3] : 0;
      const int p = a + b - c;
      const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int predicted[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
      EXPECT_LT(filter, 5) << y;
      row[i] = static_cast<std::uint8_t>(in[i] + predicted[filter % 5]);
    }
  }
  return image;
}

// The first row where the pictures differ, -1 when they are the same.
int FirstRowDiffering(const sim::RgbImage& got, const sim::RgbImage& want) {
  if (got.width != want.width || got.height != want.height) return 0;
  const std::size_t stride = static_cast<std::size_t>(want.width) * 3;
  for (int y = 0; y < want.height; ++y) {
    const auto at = static_cast<std::ptrdiff_t>(stride * static_cast<std::size_t>(y));
    if (!std::equal(want.rgb.begin() + at, want.rgb.begin() + at + static_cast<std::ptrdiff_t>(stride),
                    got.rgb.begin() + at)) {
      return y;
    }
  }
  return -1;
}

// Text-like rows: flat stretches, runs of glyph-like noise, some rows alike.
std::uint32_t PatternWord(int x, int y, unsigned seed) {
  const unsigned h =
      (static_cast<unsigned>(x) * 2654435761u) ^ (static_cast<unsigned>(y / 3) * 40503u) ^ seed;
  if ((x / 7 + y / 5) % 3 == 0) return sim::PackLcdPair(200, 100, 200, 140);
  return sim::PackLcdPair(static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(90 + (x % 5)),
                          static_cast<std::uint8_t>(h >> 16), static_cast<std::uint8_t>(150 + (seed % 7)));
}

// A run's frames one after another: each file holds exactly its frame, whichever rows changed since the frame
// before, a band (16 rows) being the part compressed again.
TEST(FramePngWriterTest, EveryFileHoldsItsFrameWhateverRowsChanged) {
  struct Geometry {
    int width, height, wordsPerRow;
  };
  struct Step {
    const char* what;
    std::vector<int> rows;  // the rows changed: kEvery, kLast or row numbers
    unsigned seed;
  };
  constexpr int kEvery = -1;
  constexpr int kLast = -2;
  const std::vector<Step> steps = {
      {"the first frame", {kEvery}, 0}, {"nothing changed", {}, 0},
      {"a row inside a band", {5}, 1},  {"the rows on both sides of a band edge", {15, 16}, 2},
      {"the last row", {kLast}, 3},     {"the first row and one three bands down", {0, 50}, 4},
      {"every row", {kEvery}, 5},       {"every row back as before", {kEvery}, 0},
  };
  for (const Geometry g :
       {Geometry{sim::kLcdWidth, sim::kLcdHeight, sim::kLcdWidth / 2}, Geometry{101, 40, 53}}) {
    sim_test::TempDir dir;
    sim::FramePngWriter writer;
    std::vector<std::uint32_t> words(static_cast<std::size_t>(g.wordsPerRow) * g.height);
    sim::LcdFrame frame;
    frame.words = words;
    frame.width = g.width;
    frame.height = g.height;
    frame.wordsPerRow = g.wordsPerRow;
    int n = 0;
    for (const Step& step : steps) {
      for (int y = 0; y < g.height; ++y) {
        const auto named = [&](int row) {
          return std::find(step.rows.begin(), step.rows.end(), row) != step.rows.end();
        };
        if (!named(kEvery) && !named(y) && !(named(kLast) && y == g.height - 1)) continue;
        for (int x = 0; x < g.wordsPerRow; ++x) {
          words[static_cast<std::size_t>(y) * g.wordsPerRow + x] = PatternWord(x, y, step.seed);
        }
      }
      const fs::path file = dir.path() / ("frame-" + std::to_string(++n) + ".png");
      std::string error;
      ASSERT_TRUE(writer.Write(frame, file, &error)) << error;
      EXPECT_EQ(FirstRowDiffering(ReadPng(file), sim::FrameToRgb(frame)), -1)
          << g.width << " x " << g.height << ", " << step.what;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), n)
        << "a temporary file was left behind";
  }
}

// Whole pictures are one piece: widths whose rows end anywhere in the filter's 16-byte blocks, heights below,
// at and past the 16 rows filtered at a time.
sim::RgbImage Picture(int width, int height, unsigned seed) {
  sim::RgbImage image{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width * 3; ++x) {
      const auto noise = static_cast<std::uint8_t>(
          (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 2246822519u ^ seed) >> 13);
      image.rgb.push_back(x % 40 < 20 ? noise : static_cast<std::uint8_t>(y / 4 * 11 + seed));
    }
  }
  return image;
}

TEST(FramePngWriterTest, WholePicturesOfAnySizeComeBackPixelForPixel) {
  sim_test::TempDir dir;
  for (const auto& [width, height] :
       {std::pair{1, 1}, {2, 3}, {5, 16}, {6, 17}, {17, 33}, {101, 40}, {1848, 20}}) {
    const sim::RgbImage image = Picture(width, height, 0);
    const fs::path file = dir.path() / "picture.png";
    std::string error;
    ASSERT_TRUE(sim::WritePng(image, file, &error)) << error;
    EXPECT_EQ(FirstRowDiffering(ReadPng(file), image), -1) << width << " x " << height;
  }
}

// A contact sheet is made and compressed a few rows at a time: frames of odd and unequal sizes, more than
// fit a row of the sheet, in their cells with grey between.
TEST(FramePngWriterTest, ContactSheetHoldsEachFrameInItsCell) {
  sim_test::TempDir dir;
  std::vector<sim::RgbImage> frames;
  for (int i = 0; i < 7; ++i) frames.push_back(Picture(13 + 2 * i, 9 + 3 * i, static_cast<unsigned>(i)));
  const fs::path file = dir.path() / "sheet.png";
  std::string error;
  ASSERT_TRUE(sim::WriteContactSheetPng(frames, file, &error)) << error;
  const sim::RgbImage sheet = ReadPng(file);
  EXPECT_EQ(FirstRowDiffering(sheet, sim::ContactSheet(frames)), -1);
  const int cellWidth = 25;  // the widest and the tallest frame
  const int cellHeight = 27;
  const int gap = sim::kSheetGap;
  ASSERT_EQ(sheet.width, sim::kSheetPerRow * (cellWidth + gap) + gap);
  ASSERT_EQ(sheet.height, 2 * (cellHeight + gap) + gap);
  for (int i = 0; i < 7; ++i) {
    const int x = gap + i % sim::kSheetPerRow * (cellWidth + gap);
    const int y = gap + i / sim::kSheetPerRow * (cellHeight + gap);
    const sim::RgbImage& f = frames[static_cast<std::size_t>(i)];
    EXPECT_EQ(PixelOf(sheet, x, y), PixelOf(f, 0, 0)) << i;
    EXPECT_EQ(PixelOf(sheet, x + f.width - 1, y + f.height - 1), PixelOf(f, f.width - 1, f.height - 1)) << i;
    EXPECT_EQ(PixelOf(sheet, x - 1, y), (sim::Rgb{40, 40, 40})) << i;
  }
}

// Captions go in a band of their own under each frame, in the built-in face; the frames stay as they are.
TEST(FramePngWriterTest, ContactSheetCaptionsGoUnderTheirFrames) {
  sim_test::TempDir dir;
  std::vector<sim::RgbImage> frames;
  for (int i = 0; i < 3; ++i) frames.push_back(Picture(60 + 9 * i, 20 + 4 * i, static_cast<unsigned>(i)));
  const std::vector<std::string> captions = {"splash, frame 1", "", "W"};
  const fs::path file = dir.path() / "sheet.png";
  std::string error;
  ASSERT_TRUE(sim::WriteContactSheetPng(frames, file, &error, captions)) << error;
  const sim::RgbImage sheet = ReadPng(file);
  EXPECT_EQ(FirstRowDiffering(sheet, sim::ContactSheet(frames, sim::kSheetPerRow, sim::kSheetGap, captions)),
            -1);
  const int gap = sim::kSheetGap;
  const int cellWidth = 78;
  const int pictureHeight = 28;
  ASSERT_EQ(sheet.height, pictureHeight + sim::kSheetCaptionHeight + gap);
  for (int i = 0; i < 3; ++i) {
    const int x = gap + i * (cellWidth + gap);
    const sim::RgbImage& f = frames[static_cast<std::size_t>(i)];
    EXPECT_EQ(PixelOf(sheet, x + f.width - 1, gap + f.height - 1), PixelOf(f, f.width - 1, f.height - 1))
        << i;
    // Caption pixels under the frame: a column of lit pixels per drawn column of the caption's glyphs.
    int lit = 0;
    for (int y = gap + pictureHeight; y < sheet.height; ++y) {
      for (int dx = 0; dx < cellWidth; ++dx) lit += PixelOf(sheet, x + dx, y) == sim::Rgb{224, 224, 224};
    }
    EXPECT_EQ(lit > 0, !captions[static_cast<std::size_t>(i)].empty()) << i;
  }
  // "W" in the third cell: the 5 x 9 glyph at twice its size, left column lit from the top of the band.
  const int band = gap + pictureHeight + gap;
  EXPECT_EQ(PixelOf(sheet, gap + 2 * (cellWidth + gap), band), (sim::Rgb{224, 224, 224}));
  EXPECT_EQ(PixelOf(sheet, gap + 2 * (cellWidth + gap), band - 1), (sim::Rgb{40, 40, 40}));
}

}  // namespace
#endif
