// Writing update files the way the camera reads them.
#include "updatefile/update_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>

#include "package/file_layout.h"
#include "platform/bytes.h"

namespace vupdate {

namespace {

void AppendBE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  std::uint8_t word[4];
  vestra::StoreBE32(word, value);
  out.insert(out.end(), word, word + 4);
}

std::optional<std::string> CheckText(std::string_view what, std::string_view text) {
  if (text.size() > kMaxTextLength) {
    return std::string(what) + " is " + std::to_string(text.size()) + " bytes; at most " +
           std::to_string(kMaxTextLength) + " fit its field";
  }
  return std::nullopt;
}

std::string ErrnoText(std::string_view what, const std::filesystem::path& path) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

TrailerItem NumberItem(std::uint32_t tag, std::uint32_t value) {
  TrailerItem item{tag, {}};
  AppendBE32(item.data, value);
  return item;
}

TrailerItem TextItem(std::uint32_t tag, std::string_view text) {
  TrailerItem item{tag, std::vector<std::uint8_t>(kTextFieldSize, 0)};
  std::memcpy(item.data.data(), text.data(), std::min<std::size_t>(text.size(), kTextFieldSize));
  return item;
}

std::optional<std::string> CheckImageSize(std::uintmax_t imageSize) {
  // An empty image would pass every check and then leave the camera with an erased flash.
  if (imageSize == 0) return std::string("the image is empty");
  if (imageSize > kMaxImageSize) {
    return "the image is " + std::to_string(imageSize) + " bytes; it must be less than 0x200000 (2097152)";
  }
  return std::nullopt;
}

std::optional<std::string> CheckMetadata(const UpdateMetadata& meta) {
  if (auto problem = CheckText("--vendor", meta.vendor)) return problem;
  if (auto problem = CheckText("--product", meta.product)) return problem;
  if (meta.debug) {
    if (meta.debug->empty()) return std::string("--debug needs a non-empty label");
    if (auto problem = CheckText("--debug", *meta.debug)) return problem;
  }
  if (meta.serialMin > meta.serialMax)
    return std::string("--serial-min is above --serial-max: no camera fits");
  return std::nullopt;
}

std::vector<TrailerItem> MetadataItems(const UpdateMetadata& meta) {
  std::vector<TrailerItem> items{
      NumberItem(kTagFirmware, meta.firmware),   NumberItem(kTagCcs, meta.ccs),
      NumberItem(kTagRegion, meta.region),       NumberItem(kTagInstaller, meta.installer),
      TextItem(kTagVendor, meta.vendor),         TextItem(kTagProduct, meta.product),
      NumberItem(kTagSerialMin, meta.serialMin), NumberItem(kTagSerialMax, meta.serialMax),
  };
  if (meta.debug) items.push_back(TextItem(kTagDebug, *meta.debug));
  return items;
}

FileLayout LayoutFor(std::vector<std::uint8_t> image, const UpdateMetadata& meta) {
  FileLayout layout;
  layout.image = std::move(image);
  layout.imageStart = meta.imageStart;
  layout.items = MetadataItems(meta);
  return layout;
}

std::uint32_t ByteSum(std::span<const std::uint8_t> bytes) {
  // inspect sums every byte of a file twice. Sixteen 16-bit column sums take a row of sixteen bytes in a few
  // vector instructions; a column gains at most 255 a row, so it is emptied every 256 rows, before it
  // overflows.
  constexpr std::size_t kColumns = 16;
  constexpr std::size_t kRows = 256;
  std::uint32_t sum = 0;
  std::size_t i = 0;
  while (i + kColumns <= bytes.size()) {
    std::array<std::uint16_t, kColumns> columns{};
    for (std::size_t row = 0; row < kRows && i + kColumns <= bytes.size(); ++row, i += kColumns) {
      for (std::size_t c = 0; c < kColumns; ++c)
        columns[c] = static_cast<std::uint16_t>(columns[c] + bytes[i + c]);
    }
    for (const std::uint16_t column : columns) sum += column;
  }
  for (; i < bytes.size(); ++i) sum += bytes[i];
  return sum;
}

std::vector<std::uint8_t> BuildUpdateFile(const FileLayout& layout) {
  const auto imageSize = static_cast<std::uint32_t>(layout.image.size());
  UpdateFileHeader header{};
  header.fileType = layout.fileType;
  header.headerSize = layout.headerSize;
  header.trailerOffset = layout.trailerOffset.value_or(kFileHeaderSize + imageSize);
  header.imageChecksum = layout.imageChecksum.value_or(ByteSum(layout.image));
  header.imageStart = layout.imageStart;
  header.imageEnd = layout.imageEnd.value_or(layout.imageStart + imageSize - 1);
  std::uint8_t headerBytes[kFileHeaderSize];
  EncodeFileHeader(header, headerBytes);

  std::vector<std::uint8_t> out(std::begin(headerBytes), std::end(headerBytes));
  std::size_t trailerSize = 8;
  for (const TrailerItem& item : layout.items) trailerSize += 4 + item.data.size();
  out.reserve(kFileHeaderSize + layout.image.size() + trailerSize);

  out.insert(out.end(), layout.image.begin(), layout.image.end());
  for (const TrailerItem& item : layout.items) {
    AppendBE32(out, item.tag);
    out.insert(out.end(), item.data.begin(), item.data.end());
  }
  if (layout.appendDone) {
    AppendBE32(out, kTagDone);
    AppendBE32(out, layout.fileChecksum.value_or(ByteSum(out)));
  }
  return out;
}

std::optional<std::string> WriteFileAtomically(
    const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
    const std::function<void(const std::filesystem::path&)>& temporary) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  // A file replaced keeps its mode; a new one gets what the umask leaves of 0666, as any new file does.
  struct stat old {};
  const bool replacing = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  std::random_device random;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08X", static_cast<unsigned>(random()));
    temp = (folder / ("." + path.filename().string() + suffix)).string();
    // Named to whoever removes it on a signal before it exists, so there is no moment it could be left.
    if (temporary) temporary(temp);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return ErrnoText("cannot create a temporary file in", folder);

  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      std::string error = ErrnoText("cannot write", temp);
      ::close(fd);
      ::unlink(temp.c_str());
      return error;
    }
    written += static_cast<std::size_t>(n);
  }
  if (replacing) ::fchmod(fd, old.st_mode & 07777);
  const bool synced = ::fsync(fd) == 0;
  if (::close(fd) != 0 || !synced) {
    std::string error = ErrnoText("cannot write", temp);
    ::unlink(temp.c_str());
    return error;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    std::string error = ErrnoText("cannot write", path);
    ::unlink(temp.c_str());
    return error;
  }
  return std::nullopt;
}

}  // namespace vupdate
