// PNG files from rows compressed one by one: RGB, the left-neighbour filter (flat runs become zero bytes)
// and run-length deflate at the fastest level, which packs screens of flat colour and text at a fraction of
// the default settings' cost. The pixels are the same whatever the encoding.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "sim/png_writer.h"

namespace sim {
namespace {

// zlib is opened when the first frame is compressed, not linked: only runs that keep their frames use it,
// and every other start of vupdate saved loading it. Typed by zlib.h's own declarations.
// clang-format off
#define VESTRA_ZLIB_CALLS(X) \
  X(deflateInit2_) X(deflateReset) X(deflateBound) X(deflate) X(deflateEnd) X(crc32) X(adler32) X(adler32_combine)
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
    // Raw deflate: the zlib wrapper goes around the joined rows. Run-length matching needs no hash table.
    ready = zlib && zlib->deflateInit2_(&stream, 1, Z_DEFLATED, -15, 1, Z_RLE, ZLIB_VERSION,
                                        static_cast<int>(sizeof(z_stream))) == Z_OK;
  }
  ~Deflater() {
    if (ready) zlib->deflateEnd(&stream);
  }
};

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

PngRow DeflateRgbRow(const std::uint8_t* rgb, int width) {
  thread_local Deflater deflater;
  thread_local std::vector<std::uint8_t> filtered;
  PngRow row;
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  filtered.resize(stride + 1);
  filtered[0] = 1;  // Sub
  for (std::size_t i = 0; i < stride; ++i) {
    filtered[i + 1] = static_cast<std::uint8_t>(rgb[i] - (i >= 3 ? rgb[i - 3] : 0));
  }
  row.length = static_cast<std::uint32_t>(filtered.size());
  if (!deflater.ready) return row;
  const Zlib& zlib = *deflater.zlib;
  row.adler =
      static_cast<std::uint32_t>(zlib.adler32(1, filtered.data(), static_cast<uInt>(filtered.size())));
  z_stream& z = deflater.stream;
  zlib.deflateReset(&z);
  row.deflated.resize(zlib.deflateBound(&z, static_cast<uLong>(filtered.size())) + 16);
  z.next_in = filtered.data();
  z.avail_in = static_cast<uInt>(filtered.size());
  z.next_out = row.deflated.data();
  z.avail_out = static_cast<uInt>(row.deflated.size());
  // A sync flush ends on a byte boundary without a final block, so that the next row's blocks can follow.
  if (zlib.deflate(&z, Z_SYNC_FLUSH) != Z_OK || z.avail_in != 0) {
    row.deflated.clear();
    return row;
  }
  row.deflated.resize(row.deflated.size() - z.avail_out);
  return row;
}

bool WriteRgbPngRows(const std::filesystem::path& path, int width, std::span<const PngRow> rows,
                     std::string* error) {
  if (width <= 0 || rows.empty()) {
    if (error) *error = "empty picture";
    return false;
  }
  const Zlib* zlib = TheZlib();
  if (!zlib ||
      std::any_of(rows.begin(), rows.end(), [](const PngRow& row) { return row.deflated.empty(); })) {
    if (error) *error = "zlib could not compress " + path.string();
    return false;
  }
  std::vector<std::uint8_t> idat = {0x78, 0x01};  // deflate, 32 KiB window, fastest
  std::uint32_t adler = 1;
  for (const PngRow& row : rows) {
    idat.insert(idat.end(), row.deflated.begin(), row.deflated.end());
    adler =
        static_cast<std::uint32_t>(zlib->adler32_combine(adler, row.adler, static_cast<z_off_t>(row.length)));
  }
  idat.push_back(0x03);  // an empty final block
  idat.push_back(0x00);
  PutBE32(idat, adler);

  std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.reserve(idat.size() + 64);
  std::vector<std::uint8_t> header;
  PutBE32(header, static_cast<std::uint32_t>(width));
  PutBE32(header, static_cast<std::uint32_t>(rows.size()));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, adaptive filters, no interlace
  Chunk(*zlib, file, "IHDR", header.data(), header.size());
  Chunk(*zlib, file, "IDAT", idat.data(), idat.size());
  Chunk(*zlib, file, "IEND", nullptr, 0);
  return WriteAtomically(path, file, error);
}

}  // namespace sim
