// Drive B as the camera's file system presents it, over whichever storage holds the bytes.
#include "sim/card.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "sim/camera.h"

namespace vestra {

struct DIR {
  std::vector<std::string> names;
  std::size_t next = 0;
  dirent entry{};
};

struct FILE {
  std::unique_ptr<sim::CardHandle> handle;
  std::shared_ptr<const sim::CardPath> path;
  bool readable = false;
  bool writable = false;
};

}  // namespace vestra

namespace sim {

namespace {

constexpr std::string_view kDrivePrefix = "/B";
// Spellings kept at most; the module uses about five, anything beyond is a test or a fuzzer's invention.
constexpr std::size_t kMaxCachedPaths = 64;

// A stdio mode the camera's library knows: r, w or a, then b and + in any order.
std::optional<CardOpenMode> ParseStreamMode(const char* mode) {
  if (mode == nullptr) return std::nullopt;
  const std::string_view m(mode);
  if (m.empty() || m.size() > 3) return std::nullopt;
  bool plus = false;
  bool binary = false;
  for (char c : m.substr(1)) {
    if (c == '+' && !plus) {
      plus = true;
    } else if (c == 'b' && !binary) {
      binary = true;
    } else {
      return std::nullopt;
    }
  }
  switch (m[0]) {
    case 'r':
      return CardOpenMode{.read = true, .write = plus};
    case 'w':
      return CardOpenMode{.read = plus, .write = true, .create = true, .truncate = true};
    case 'a':
      return CardOpenMode{.read = plus, .write = true, .create = true, .append = true};
    default:
      return std::nullopt;
  }
}

}  // namespace

Card::Card(Camera& camera, std::shared_ptr<CardStorage> storage)
    : camera_(camera), storage_(std::move(storage)) {}

Card::~Card() = default;

std::optional<std::string> Card::Normalise(std::string_view cardPath) {
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

const Card::CardPathPtr& Card::Resolve(std::string_view cardPath) const {
  static const CardPathPtr kNowhere;
  auto it = paths_.find(cardPath);
  if (it == paths_.end()) {
    if (paths_.size() >= kMaxCachedPaths) paths_.clear();
    CardPathPtr path;
    if (auto relative = Normalise(cardPath)) {
      std::string drive(kDrivePrefix);
      drive += '/';
      drive += *relative;
      path = std::make_shared<const CardPath>(CardPath{std::move(*relative), std::move(drive)});
    }
    it = paths_.emplace(cardPath, std::move(path)).first;
  }
  if (!it->second || !storage_->Reaches(it->second->relative)) return kNowhere;
  return it->second;
}

bool Card::Reaches(std::string_view cardPath) const {
  return Resolve(cardPath) != nullptr;
}

bool Card::RemoveRelative(std::string_view relative) {
  if (!relative.empty() && relative.front() == '/') return false;
  std::string card("/B/");
  card += relative;
  const CardPathPtr& path = Resolve(card);
  return path && storage_->Remove(path->relative);
}

bool Card::DriveAvailable() const {
  return camera_.profile().platform.driveAvailable && storage_->Present();
}

bool Card::Guard() {
  NoteAccess();
  return DriveAvailable();
}

void Card::NoteAccess() {
  if (camera_.interruptsLocked) ++camera_.faultsInsideLock;
}

void Card::NoteWrite(const CardPath& path, std::string_view bytes) {
  if (!writeObserver_ || bytes.empty()) return;
  writeObserver_(path.drive, bytes);
}

int Card::OpenCount() const {
  return static_cast<int>(descriptors_.size() + dirs_.size() + streams_.size());
}

std::int32_t Card::Open(const char* path, std::int32_t flags) {
  if (!Guard() || path == nullptr || OpenCount() >= kMaxOpenFiles) return -1;
  const CardPathPtr& at = Resolve(path);
  if (!at) return -1;
  CardOpenMode mode;
  switch (flags & vestra::kOpenAccessMask) {
    case vestra::kOpenReadOnly:
      mode.read = true;
      break;
    case vestra::kOpenWriteOnly:
      mode.write = true;
      break;
    case vestra::kOpenReadWrite:
      mode.read = mode.write = true;
      break;
    default:
      return -1;
  }
  mode.append = (flags & vestra::kOpenAppend) != 0;
  mode.create = (flags & vestra::kOpenCreate) != 0;
  mode.truncate = (flags & vestra::kOpenTruncate) != 0;
  auto handle = storage_->Open(at->relative, mode);  // a folder is refused there
  if (!handle) return -1;
  std::int32_t fd = 3;  // 0 to 2 are the console's on the camera too
  while (descriptors_.count(fd) != 0) ++fd;
  descriptors_[fd] = std::move(handle);
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
  const std::int64_t n = it->second->Read(buffer, count);
  return n < 0 ? -1 : static_cast<std::int32_t>(n);
}

std::int32_t Card::Seek(std::int32_t fd, std::int32_t offset, std::int32_t whence) {
  NoteAccess();
  const auto it = descriptors_.find(fd);
  if (it == descriptors_.end() || whence < vestra::kSeekSet || whence > vestra::kSeekEnd) return -1;
  const std::int64_t pos = it->second->Seek(offset, whence);
  if (pos < 0 || pos > std::numeric_limits<std::int32_t>::max()) return -1;
  return static_cast<std::int32_t>(pos);
}

vestra::DIR* Card::OpenDir(const char* path) {
  if (!Guard() || path == nullptr || OpenCount() >= kMaxOpenFiles) return nullptr;
  const CardPathPtr& at = Resolve(path);
  if (!at) return nullptr;
  auto names = storage_->List(at->relative);
  if (!names) return nullptr;
  auto dir = std::make_unique<vestra::DIR>();
  // A name that does not fit an entry cannot be delivered whole.
  std::erase_if(*names,
                [](const std::string& name) { return name.size() >= sizeof(vestra::dirent::d_name); });
  std::sort(names->begin(), names->end());
  dir->names = std::move(*names);
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
  const CardPathPtr& at = Resolve(path);
  if (!at) return -1;
  if (storage_->Kind(at->relative, false) != CardEntry::kFile)
    return -1;  // files only, never folders or links
  return storage_->Remove(at->relative) ? 0 : -1;
}

vestra::FILE* Card::OpenStream(const char* path, const char* mode) {
  if (!Guard() || path == nullptr || OpenCount() >= kMaxOpenFiles) return nullptr;
  const auto openMode = ParseStreamMode(mode);
  if (!openMode) return nullptr;
  const CardPathPtr& at = Resolve(path);
  if (!at) return nullptr;
  auto handle = storage_->Open(at->relative, *openMode);  // a folder is refused there
  if (!handle) return nullptr;
  auto s = spareStream_ ? std::move(spareStream_) : std::make_unique<vestra::FILE>();
  s->handle = std::move(handle);
  s->path = at;
  s->readable = openMode->read;
  s->writable = openMode->write;
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
  const std::uint32_t bytes = ByteCount(size, count);
  if (!stream->readable || bytes == 0) return 0;
  // As fread: whole items only, though a partial last item is consumed.
  std::uint32_t done = 0;
  while (done < bytes) {
    const std::int64_t n = stream->handle->Read(static_cast<char*>(buffer) + done, bytes - done);
    if (n <= 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  return done / size;
}

std::uint32_t Card::WriteStream(const void* buffer, std::uint32_t size, std::uint32_t count,
                                vestra::FILE* stream) {
  NoteAccess();
  if (FindStream(streams_, stream) == streams_.end() || buffer == nullptr || size == 0) return 0;
  const std::uint32_t bytes = ByteCount(size, count);
  if (!stream->writable || bytes == 0) return 0;
  const std::int64_t written = stream->handle->Write(buffer, bytes);
  const std::uint32_t n = written < 0 ? 0 : static_cast<std::uint32_t>(written) / size;
  NoteWrite(*stream->path, std::string_view(static_cast<const char*>(buffer), std::size_t{n} * size));
  return n;
}

std::int32_t Card::SeekStream(vestra::FILE* stream, std::int32_t offset, std::int32_t whence) {
  NoteAccess();
  if (FindStream(streams_, stream) == streams_.end()) return -1;
  if (whence < vestra::kSeekSet || whence > vestra::kSeekEnd) return -1;
  return stream->handle->Seek(offset, whence) >= 0 ? 0 : -1;
}

std::int32_t Card::CloseStream(vestra::FILE* stream) {
  NoteAccess();
  const auto it = FindStream(streams_, stream);
  if (it == streams_.end()) return vestra::kEOF;
  const bool closed = stream->handle->Close();
  stream->handle.reset();
  stream->path.reset();
  spareStream_ = std::move(*it);
  streams_.erase(it);
  return closed ? 0 : vestra::kEOF;
}

}  // namespace sim

// The platform's file calls, on the current camera's card.
namespace vestra {

std::int16_t FSDiskDriveAvailable(std::int16_t drive) {
  return drive == kCardDrive && sim::Current().card().DriveAvailable() ? 1 : 0;
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
  // A log line fits the stack; only a longer text is formatted a second time, into the heap.
  char line[256];
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(line, sizeof line, format, copy);
  va_end(copy);
  if (size < 0) {
    va_end(args);
    return -1;
  }
  std::string longer;
  const char* text = line;
  if (static_cast<std::size_t>(size) >= sizeof line) {
    longer.resize(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(longer.data(), longer.size(), format, args);
    text = longer.data();
  }
  va_end(args);
  const auto length = static_cast<std::uint32_t>(size);
  const std::uint32_t written = sim::Current().card().WriteStream(text, 1, length, stream);
  return written == length ? size : -1;
}
std::int32_t fclose(FILE* stream) {
  return sim::Current().card().CloseStream(stream);
}

}  // namespace vestra
