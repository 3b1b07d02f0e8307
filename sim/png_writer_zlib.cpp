// PNG files from pieces of rows compressed one by one: RGB, the Up filter below a piece's first row, and
// deflate at the fastest level, which packs screens of flat colour and text at a fraction of the default
// settings' cost. The pixels are the same whatever the encoding.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "sim/png_writer.h"

namespace sim {
namespace {

// zlib is opened when the first frame is compressed, not linked: only runs that keep their frames use it,
// and every other start of vupdate saved loading it. Typed by zlib.h's own declarations.
// clang-format off
#define VESTRA_ZLIB_CALLS(X) \
  X(deflateInit2_) X(deflateReset) X(deflateBound) X(deflate) X(deflateEnd) X(crc32) X(crc32_combine) \
  X(adler32_combine)
// clang-format on

struct Zlib {
// A declarator cannot be parenthesised.
#define VESTRA_ZLIB_POINTER(name) decltype(&::name) name = nullptr;  // NOLINT(bugprone-macro-parentheses)
  VESTRA_ZLIB_CALLS(VESTRA_ZLIB_POINTER)
#undef VESTRA_ZLIB_POINTER
};

// Null when the library or one of its calls is missing: then no row compresses, as when zlib fails. It stays
// loaded for the process.
const Zlib* TheZlib() {
  static const Zlib* const zlib = []() -> const Zlib* {
    void* library = dlopen(VESTRA_ZLIB_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    static Zlib calls;
    bool complete = true;
#define VESTRA_ZLIB_LOOKUP(name)                                              \
  calls.name = reinterpret_cast<decltype(calls.name)>(dlsym(library, #name)); \
  complete = complete && calls.name != nullptr;
    VESTRA_ZLIB_CALLS(VESTRA_ZLIB_LOOKUP)
#undef VESTRA_ZLIB_LOOKUP
    if (complete) return &calls;
    dlclose(library);
    return nullptr;
  }();
  return zlib;
}

struct Deflater {
  const Zlib* zlib = TheZlib();
  z_stream stream{};
  bool ready = false;
  Deflater() {
    // Raw deflate: the zlib wrapper goes around the joined pieces. The fastest ordinary matching finds the
    // row above and repeated glyphs, which run-length matching cannot. A hash of 2^13 heads (memory level 6)
    // packs a band as small as the default 2^15 does, and each band's reset clears a quarter as much.
    ready = zlib && zlib->deflateInit2_(&stream, 1, Z_DEFLATED, -15, 6, Z_DEFAULT_STRATEGY, ZLIB_VERSION,
                                        static_cast<int>(sizeof(z_stream))) == Z_OK;
  }
  ~Deflater() {
    if (ready) zlib->deflateEnd(&stream);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
};

// Rows are filtered this many at a time, so that a whole picture needs no copy of its own size.
constexpr int kChunkRows = 16;
// Filter loops run in blocks of this many bytes, a size the compiler turns into vector instructions.
constexpr std::size_t kBlock = 16;

// Sub: each byte less the same colour of the pixel to its left; flat runs become zero bytes.
void FilterSub(const std::uint8_t* __restrict row, std::size_t n, std::uint8_t* __restrict out) {
  std::size_t i = std::min<std::size_t>(3, n);
  std::copy_n(row, i, out);
  for (; i + kBlock <= n; i += kBlock) {
    for (std::size_t k = 0; k < kBlock; ++k)
      out[i + k] = static_cast<std::uint8_t>(row[i + k] - row[i + k - 3]);
  }
  for (; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - 3]);
}

// Up: each byte less the one above; a row like the one above becomes zero bytes.
void FilterUp(const std::uint8_t* __restrict row, const std::uint8_t* __restrict above, std::size_t n,
              std::uint8_t* __restrict out) {
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    for (std::size_t k = 0; k < kBlock; ++k)
      out[i + k] = static_cast<std::uint8_t>(row[i + k] - above[i + k]);
  }
  for (; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
}

void PutBE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(const Zlib& zlib, std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* body,
           std::size_t length) {
  PutBE32(out, static_cast<std::uint32_t>(length));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (length > 0) out.insert(out.end(), body, body + length);
  PutBE32(out, static_cast<std::uint32_t>(
                   zlib.crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

// zlib's Adler-32 takes a byte at a time. Here sixteen columns take a row of sixteen bytes in a few vector
// instructions: the byte sum is the columns' sum, and the sum of sums weighs each byte by the bytes from it
// to the end, which is sixteen times its row's distance from the end less its column.
std::uint32_t Adler32(std::uint32_t adler, const std::uint8_t* bytes, std::size_t n) {
  constexpr std::uint32_t kBase = 65521;
  constexpr std::size_t kRows = 256;  // the weighted columns stay below 2^32: 255 * 256 * 257 / 2
  std::uint64_t a = adler & 0xFFFF;
  std::uint64_t b = adler >> 16;
  while (n >= kBlock) {
    const std::size_t rows = std::min(n / kBlock, kRows);
    std::array<std::uint32_t, kBlock> column{};
    std::array<std::uint32_t, kBlock> weighted{};
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t k = 0; k < kBlock; ++k) {
        column[k] += bytes[r * kBlock + k];
        weighted[k] += column[k];
      }
    }
    std::uint64_t sum = 0;
    std::uint64_t weight = 0;
    for (std::size_t k = 0; k < kBlock; ++k) {
      sum += column[k];
      weight += kBlock * std::uint64_t{weighted[k]} - k * std::uint64_t{column[k]};
    }
    b = (b + rows * kBlock * a + weight) % kBase;
    a = (a + sum) % kBase;
    bytes += rows * kBlock;
    n -= rows * kBlock;
  }
  for (; n > 0; --n) {
    a += *bytes++;
    b += a;
  }
  return static_cast<std::uint32_t>(((b % kBase) << 16) | (a % kBase));
}

bool WriteAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                     std::string* error) {
  std::filesystem::path temp = path;
  temp += ".partial";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error) *error = "cannot create " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool written = done == bytes.size();
  const int writeErrno = errno;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = written ? errno : writeErrno;
    ::unlink(temp.c_str());
    if (error) *error = "cannot write " + path.string() + ": " + std::strerror(e);
    return false;
  }
  return true;
}

}  // namespace

bool DeflateRgbRows(const std::uint8_t* rgb, int width, int rows, PngPiece& piece) {
  const std::size_t stride = static_cast<std::size_t>(std::max(width, 0)) * 3;
  return DeflateRgbRows(
      width, rows, [rgb, stride](int first, int) { return rgb + static_cast<std::size_t>(first) * stride; },
      piece);
}

bool DeflateRgbRows(int width, int rows, const RgbRowSource& source, PngPiece& piece) {
  thread_local Deflater deflater;
  thread_local std::vector<std::uint8_t> filtered;
  thread_local std::vector<std::uint8_t> out;
  thread_local std::vector<std::uint8_t> above;  // the last row of the rows the source gave before
  piece.deflated.clear();                        // keeps its buffer for the piece's next contents
  piece.crc = 0;
  piece.adler = 1;
  piece.length = 0;
  piece.rows = rows;
  if (!deflater.ready || width <= 0 || rows <= 0) return false;
  const Zlib& zlib = *deflater.zlib;
  z_stream& z = deflater.stream;
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  const std::size_t line = stride + 1;
  const std::size_t chunk = static_cast<std::size_t>(std::min(rows, kChunkRows)) * line;
  // These only grow, so that no call fills a fresh buffer with zeros.
  if (filtered.size() < chunk) filtered.resize(chunk);
  if (above.size() < stride) above.resize(stride);
  zlib.deflateReset(&z);
  const std::size_t bound = zlib.deflateBound(&z, static_cast<uLong>(chunk)) + 16;
  if (out.size() < bound) out.resize(bound);
  for (int first = 0; first < rows; first += kChunkRows) {
    const int count = std::min(kChunkRows, rows - first);
    const std::uint8_t* rgb = source(first, count);
    for (int r = 0; r < count; ++r) {
      const std::uint8_t* row = rgb + static_cast<std::size_t>(r) * stride;
      std::uint8_t* to = filtered.data() + static_cast<std::size_t>(r) * line;
      // The first row has no row above within the piece: the piece must not depend on its neighbours.
      to[0] = first + r == 0 ? 1 : 2;
      if (first + r == 0) {
        FilterSub(row, stride, to + 1);
      } else {
        FilterUp(row, r > 0 ? row - stride : above.data(), stride, to + 1);
      }
    }
    std::copy_n(rgb + static_cast<std::size_t>(count - 1) * stride, stride, above.data());
    const std::size_t size = static_cast<std::size_t>(count) * line;
    piece.adler = Adler32(piece.adler, filtered.data(), size);
    piece.length += size;
    z.next_in = filtered.data();
    z.avail_in = static_cast<uInt>(size);
    // A sync flush ends on a byte boundary without a final block, so that the next piece's blocks can follow.
    const int flush = first + count == rows ? Z_SYNC_FLUSH : Z_NO_FLUSH;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      const int status = zlib.deflate(&z, flush);
      if (status != Z_OK && status != Z_BUF_ERROR) {
        piece.deflated.clear();
        return false;
      }
      piece.deflated.insert(piece.deflated.end(), out.data(), z.next_out);
    } while (z.avail_out == 0);
    if (z.avail_in != 0) {
      piece.deflated.clear();
      return false;
    }
  }
  piece.crc = static_cast<std::uint32_t>(
      zlib.crc32(0, piece.deflated.data(), static_cast<uInt>(piece.deflated.size())));
  return true;
}

bool WriteRgbPng(const std::filesystem::path& path, int width, std::span<const PngPiece> pieces,
                 std::string* error) {
  std::uint64_t height = 0;
  std::uint64_t deflated = 0;
  for (const PngPiece& piece : pieces) {
    height += static_cast<std::uint64_t>(std::max(piece.rows, 0));
    deflated += piece.deflated.size();
  }
  if (width <= 0 || height == 0 || height > INT32_MAX) {
    if (error) *error = "empty picture";
    return false;
  }
  const Zlib* zlib = TheZlib();
  if (!zlib || deflated > INT32_MAX - 64 ||
      std::any_of(pieces.begin(), pieces.end(), [](const PngPiece& p) { return p.deflated.empty(); })) {
    if (error) *error = "zlib could not compress " + path.string();
    return false;
  }
  std::vector<std::uint8_t> header;
  PutBE32(header, static_cast<std::uint32_t>(width));
  PutBE32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, adaptive filters, no interlace

  std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.reserve(static_cast<std::size_t>(deflated) + 128);
  Chunk(*zlib, file, "IHDR", header.data(), header.size());
  // IDAT: the pieces inside a zlib wrapper. Its checksum is combined from the pieces' own, so that the
  // pieces a frame kept are not read again.
  const std::size_t idat = file.size();
  PutBE32(file, static_cast<std::uint32_t>(deflated + 8));
  file.insert(file.end(), {'I', 'D', 'A', 'T', 0x78, 0x01});  // deflate, 32 KiB window, fastest
  auto crc = zlib->crc32(0, file.data() + idat + 4, 6);
  std::uint32_t adler = 1;
  for (const PngPiece& piece : pieces) {
    file.insert(file.end(), piece.deflated.begin(), piece.deflated.end());
    crc = zlib->crc32_combine(crc, piece.crc, static_cast<z_off_t>(piece.deflated.size()));
    adler = static_cast<std::uint32_t>(
        zlib->adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.length)));
  }
  const std::size_t tail = file.size();
  file.insert(file.end(), {0x03, 0x00});  // an empty final block
  PutBE32(file, adler);
  crc = zlib->crc32(crc, file.data() + tail, static_cast<uInt>(file.size() - tail));
  PutBE32(file, static_cast<std::uint32_t>(crc));
  Chunk(*zlib, file, "IEND", nullptr, 0);
  return WriteAtomically(path, file, error);
}

}  // namespace sim
