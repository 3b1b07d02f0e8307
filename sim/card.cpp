// Drive B over a host folder, with the camera file system's descriptors, directories and streams.
#include "sim/card.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

#include "sim/camera.h"

namespace fs = std::filesystem;

namespace vestra {

struct DIR {
  std::vector<std::string> names;
  std::size_t next = 0;
  dirent entry{};
};

struct FILE {
  std::FILE* host = nullptr;
  std::string cardPath;  // normalised, relative to the card folder
  bool readable = false;
  bool writable = false;
};

}  // namespace vestra

namespace sim {

namespace {

constexpr std::string_view kDrivePrefix = "/B";

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

// A stdio mode the camera's library knows: r, w or a, then b and + in any order.
bool ParseStreamMode(const char* mode, bool* readable, bool* writable) {
  if (mode == nullptr) return false;
  const std::string_view m(mode);
  if (m.empty() || m.size() > 3) return false;
  bool plus = false;
  bool binary = false;
  for (char c : m.substr(1)) {
    if (c == '+' && !plus) {
      plus = true;
    } else if (c == 'b' && !binary) {
      binary = true;
    } else {
      return false;
    }
  }
  switch (m[0]) {
    case 'r':
      *readable = true;
      *writable = plus;
      return true;
    case 'w':
    case 'a':
      *readable = plus;
      *writable = true;
      return true;
    default:
      return false;
  }
}

}  // namespace

struct Card::Descriptor {
  int hostFd = -1;
  ~Descriptor() {
    if (hostFd >= 0) ::close(hostFd);
  }
};

Card::Card(Camera& camera, fs::path root) : camera_(camera), root_(std::move(root)) {}

Card::~Card() {
  for (auto& s : streams_) {
    if (s->host != nullptr) std::fclose(s->host);
  }
}

std::optional<std::string> Card::Normalise(std::string_view cardPath) const {
  if (cardPath.substr(0, kDrivePrefix.size()) != kDrivePrefix) return std::nullopt;
  std::string_view rest = cardPath.substr(kDrivePrefix.size());
  if (!rest.empty() && rest.front() != '/') return std::nullopt;  // "/BX" is another drive
  std::string out;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::nullopt;  // never climb, not even back into the card
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

std::optional<fs::path> Card::HostPathRelative(std::string_view relative) const {
  std::string card("/B/");
  card += relative;
  if (!relative.empty() && relative.front() == '/') return std::nullopt;
  return HostPath(card);
}

std::optional<fs::path> Card::HostPath(std::string_view cardPath) const {
  const auto rel = Normalise(cardPath);
  if (!rel) return std::nullopt;
  std::error_code ec;
  const fs::path rootReal = fs::canonical(root_, ec);
  if (ec) return std::nullopt;
  const fs::path host = rel->empty() ? root_ : root_ / *rel;
  // A link inside the card must not lead out of it, nor may a dangling one that writing would follow.
  if (fs::is_symlink(fs::symlink_status(host, ec)) && !fs::exists(host, ec)) return std::nullopt;
  const fs::path real = fs::weakly_canonical(host, ec);
  if (ec || !IsWithin(real, rootReal)) return std::nullopt;
  return host;
}

bool Card::DriveAvailable() const {
  std::error_code ec;
  return camera_.profile().platform.driveAvailable && fs::is_directory(root_, ec);
}

bool Card::Guard() {
  NoteAccess();
  return DriveAvailable();
}

void Card::NoteAccess() {
  if (camera_.interruptsLocked) ++camera_.faultsInsideLock;
}

void Card::NoteWrite(const std::string& cardPath, std::string_view bytes) {
  if (!writeObserver_ || bytes.empty()) return;
  writeObserver_(std::string(kDrivePrefix) + "/" + cardPath, bytes);
}

int Card::OpenCount() const {
  return static_cast<int>(descriptors_.size() + dirs_.size() + streams_.size());
}

std::int32_t Card::Open(const char* path, std::int32_t flags) {
  if (!Guard() || path == nullptr || OpenCount() >= kMaxOpenFiles) return -1;
  const auto host = HostPath(path);
  if (!host) return -1;
  int hostFlags = O_CLOEXEC;
  switch (flags & 3) {
    case kOpenReadOnly:
      hostFlags |= O_RDONLY;
      break;
    case kOpenWriteOnly:
      hostFlags |= O_WRONLY;
      break;
    case kOpenReadWrite:
      hostFlags |= O_RDWR;
      break;
    default:
      return -1;
  }
  if (flags & kOpenAppend) hostFlags |= O_APPEND;
  if (flags & kOpenCreate) hostFlags |= O_CREAT;
  if (flags & kOpenTruncate) hostFlags |= O_TRUNC;
  std::error_code ec;
  if (fs::is_directory(*host, ec)) return -1;
  auto d = std::make_unique<Descriptor>();
  d->hostFd = ::open(host->c_str(), hostFlags, 0644);
  if (d->hostFd < 0) return -1;
  std::int32_t fd = 3;  // 0 to 2 are the console's on the camera too
  while (descriptors_.count(fd) != 0) ++fd;
  descriptors_[fd] = std::move(d);
  return fd;
}

std::int32_t Card::Close(std::int32_t fd) {
  NoteAccess();
  return descriptors_.erase(fd) == 1 ? 0 : -1;
}

std::int32_t Card::Read(std::int32_t fd, void* buffer, std::uint32_t count) {
  NoteAccess();
  const auto it = descriptors_.find(fd);
  if (it == descriptors_.end() || buffer == nullptr) return -1;
  count = std::min<std::uint32_t>(count, std::numeric_limits<std::int32_t>::max());
  const ssize_t n = ::read(it->second->hostFd, buffer, count);
  return n < 0 ? -1 : static_cast<std::int32_t>(n);
}

std::int32_t Card::Seek(std::int32_t fd, std::int32_t offset, std::int32_t whence) {
  NoteAccess();
  const auto it = descriptors_.find(fd);
  if (it == descriptors_.end()) return -1;
  int hostWhence;
  switch (whence) {
    case 0:
      hostWhence = SEEK_SET;
      break;
    case 1:
      hostWhence = SEEK_CUR;
      break;
    case 2:
      hostWhence = SEEK_END;
      break;
    default:
      return -1;
  }
  const off_t pos = ::lseek(it->second->hostFd, offset, hostWhence);
  if (pos < 0 || static_cast<std::int64_t>(pos) > std::numeric_limits<std::int32_t>::max()) return -1;
  return static_cast<std::int32_t>(pos);
}

vestra::DIR* Card::OpenDir(const char* path) {
  if (!Guard() || path == nullptr || OpenCount() >= kMaxOpenFiles) return nullptr;
  const auto host = HostPath(path);
  if (!host) return nullptr;
  std::error_code ec;
  auto it = fs::directory_iterator(*host, ec);
  if (ec) return nullptr;
  auto dir = std::make_unique<vestra::DIR>();
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return nullptr;
    std::string name = it->path().filename().string();
    // The host never lists "." and ".."; a name that does not fit an entry cannot be delivered whole.
    if (name.size() < sizeof(vestra::dirent::d_name)) dir->names.push_back(std::move(name));
  }
  std::sort(dir->names.begin(), dir->names.end());
  dirs_.push_back(std::move(dir));
  return dirs_.back().get();
}

vestra::dirent* Card::ReadDir(vestra::DIR* dir) {
  NoteAccess();
  const auto it = std::find_if(dirs_.begin(), dirs_.end(), [dir](const auto& d) { return d.get() == dir; });
  if (it == dirs_.end() || dir->next >= dir->names.size()) return nullptr;
  const std::string& name = dir->names[dir->next++];
  std::memset(dir->entry.d_name, 0, sizeof dir->entry.d_name);
  std::memcpy(dir->entry.d_name, name.data(), name.size());
  return &dir->entry;
}

std::int32_t Card::CloseDir(vestra::DIR* dir) {
  NoteAccess();
  const auto it = std::find_if(dirs_.begin(), dirs_.end(), [dir](const auto& d) { return d.get() == dir; });
  if (it == dirs_.end()) return -1;
  dirs_.erase(it);
  return 0;
}

std::int32_t Card::Remove(const char* path) {
  if (!Guard() || path == nullptr) return -1;
  const auto host = HostPath(path);
  if (!host) return -1;
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(*host, ec))) return -1;  // files only, never folders
  return fs::remove(*host, ec) && !ec ? 0 : -1;
}

vestra::FILE* Card::OpenStream(const char* path, const char* mode) {
  if (!Guard() || path == nullptr || OpenCount() >= kMaxOpenFiles) return nullptr;
  bool readable = false;
  bool writable = false;
  if (!ParseStreamMode(mode, &readable, &writable)) return nullptr;
  const auto host = HostPath(path);
  const auto rel = Normalise(path);
  if (!host || !rel) return nullptr;
  std::error_code ec;
  if (fs::is_directory(*host, ec)) return nullptr;
  std::FILE* f = std::fopen(host->c_str(), mode);
  if (f == nullptr) return nullptr;
  auto s = std::make_unique<vestra::FILE>();
  s->host = f;
  s->cardPath = *rel;
  s->readable = readable;
  s->writable = writable;
  streams_.push_back(std::move(s));
  return streams_.back().get();
}

namespace {
template <typename List>
auto FindStream(List& streams, vestra::FILE* stream) {
  return std::find_if(streams.begin(), streams.end(), [stream](const auto& s) { return s.get() == stream; });
}

// size × count as a byte count, or 0 when it does not fit the camera's 32-bit sizes.
std::uint32_t ByteCount(std::uint32_t size, std::uint32_t count) {
  const std::uint64_t bytes = std::uint64_t{size} * count;
  return bytes > std::numeric_limits<std::uint32_t>::max() ? 0 : static_cast<std::uint32_t>(bytes);
}
}  // namespace

std::uint32_t Card::ReadStream(void* buffer, std::uint32_t size, std::uint32_t count, vestra::FILE* stream) {
  NoteAccess();
  if (FindStream(streams_, stream) == streams_.end() || buffer == nullptr || size == 0) return 0;
  if (!stream->readable || ByteCount(size, count) == 0) return 0;
  return static_cast<std::uint32_t>(std::fread(buffer, size, count, stream->host));
}

std::uint32_t Card::WriteStream(const void* buffer, std::uint32_t size, std::uint32_t count,
                                vestra::FILE* stream) {
  NoteAccess();
  if (FindStream(streams_, stream) == streams_.end() || buffer == nullptr || size == 0) return 0;
  if (!stream->writable || ByteCount(size, count) == 0) return 0;
  const std::size_t n = std::fwrite(buffer, size, count, stream->host);
  NoteWrite(stream->cardPath, std::string_view(static_cast<const char*>(buffer), n * size));
  return static_cast<std::uint32_t>(n);
}

std::int32_t Card::SeekStream(vestra::FILE* stream, std::int32_t offset, std::int32_t whence) {
  NoteAccess();
  if (FindStream(streams_, stream) == streams_.end()) return -1;
  if (whence < 0 || whence > 2) return -1;
  static constexpr int kHostWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  return std::fseek(stream->host, offset, kHostWhence[whence]) == 0 ? 0 : -1;
}

std::int32_t Card::CloseStream(vestra::FILE* stream) {
  NoteAccess();
  const auto it = FindStream(streams_, stream);
  if (it == streams_.end()) return vestra::kEOF;
  const int rc = std::fclose(stream->host);
  streams_.erase(it);
  return rc == 0 ? 0 : vestra::kEOF;
}

}  // namespace sim

// The platform's file calls, on the current camera's card.
namespace vestra {

std::int16_t FSDiskDriveAvailable(std::int16_t drive) {
  return drive == 2 && sim::Current().card().DriveAvailable() ? 1 : 0;
}
std::int32_t FSOpen(const char* path, std::int32_t flags, std::int32_t) {
  return sim::Current().card().Open(path, flags);
}
std::int32_t FSClose(std::int32_t fd) {
  return sim::Current().card().Close(fd);
}
std::int32_t read(std::int32_t fd, void* buffer, std::uint32_t count) {
  return sim::Current().card().Read(fd, buffer, count);
}
std::int32_t lseek(std::int32_t fd, std::int32_t offset, std::int32_t whence) {
  return sim::Current().card().Seek(fd, offset, whence);
}
DIR* opendir(const char* path) {
  return sim::Current().card().OpenDir(path);
}
dirent* readdir(DIR* dir) {
  return sim::Current().card().ReadDir(dir);
}
std::int32_t closedir(DIR* dir) {
  return sim::Current().card().CloseDir(dir);
}
std::int32_t remove(const char* path) {
  return sim::Current().card().Remove(path);
}

FILE* fopen(const char* path, const char* mode) {
  return sim::Current().card().OpenStream(path, mode);
}
std::uint32_t fread(void* buffer, std::uint32_t size, std::uint32_t count, FILE* stream) {
  return sim::Current().card().ReadStream(buffer, size, count, stream);
}
std::uint32_t fwrite(const void* buffer, std::uint32_t size, std::uint32_t count, FILE* stream) {
  return sim::Current().card().WriteStream(buffer, size, count, stream);
}
std::int32_t fseek(FILE* stream, std::int32_t offset, std::int32_t whence) {
  return sim::Current().card().SeekStream(stream, offset, whence);
}
std::int32_t fprintf(FILE* stream, const char* format, ...) {
  if (format == nullptr) return -1;
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size < 0) {
    va_end(args);
    return -1;
  }
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(static_cast<std::size_t>(size));
  const std::uint32_t written =
      sim::Current().card().WriteStream(text.data(), 1, static_cast<std::uint32_t>(text.size()), stream);
  return written == text.size() ? size : -1;
}
std::int32_t fclose(FILE* stream) {
  return sim::Current().card().CloseStream(stream);
}

}  // namespace vestra
