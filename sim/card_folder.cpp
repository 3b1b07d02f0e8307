// Drive B over a host folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "sim/card_storage.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

class FolderHandle : public CardHandle {
 public:
  explicit FolderHandle(int fd) : fd_(fd) {}
  ~FolderHandle() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  std::int64_t Read(void* buffer, std::size_t count) override { return HostRead(buffer, count); }
  std::int64_t Write(const void* buffer, std::size_t count) override {
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_, bytes + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
      done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
  }
  std::int64_t Seek(std::int64_t offset, int whence) override {
    int hostWhence;
    switch (whence) {
      case vestra::kSeekSet:
        hostWhence = SEEK_SET;
        break;
      case vestra::kSeekCurrent:
        hostWhence = SEEK_CUR;
        break;
      case vestra::kSeekEnd:
        hostWhence = SEEK_END;
        break;
      default:
        return -1;
    }
    return ::lseek(fd_, static_cast<off_t>(offset), hostWhence);
  }
  bool Close() override {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 protected:
  std::int64_t HostRead(void* buffer, std::size_t count) {
    ssize_t n;
    do {
      n = ::read(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
  }
  std::int64_t HostSeek(std::int64_t offset, int whence) { return FolderHandle::Seek(offset, whence); }

 private:
  int fd_;
};

// A file opened only for reading: the module reads its update file a kilobyte at a time, and one host call
// per kilobyte would be most of the start-up. Reads come from a window of the file read ahead; the host's
// offset is the window's end, so a seek inside the window costs no call. What the module sees stays what
// plain reads and seeks return: all it asked for up to the end of the file, positions anywhere from 0 on.
class ReadAheadHandle final : public FolderHandle {
 public:
  using FolderHandle::FolderHandle;

  std::int64_t Read(void* buffer, std::size_t count) override {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
      if (next_ < end_) {
        const std::size_t n = std::min(count - done, end_ - next_);
        std::memcpy(out + done, window_.get() + next_, n);
        next_ += n;
        done += n;
        continue;
      }
      // Past the window: a large rest goes straight to the caller, a small one refills the window.
      const bool direct = count - done >= kWindow;
      if (!direct && !window_) window_ = std::make_unique_for_overwrite<char[]>(kWindow);
      const std::int64_t n = direct ? HostRead(out + done, count - done) : HostRead(window_.get(), kWindow);
      if (n < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
      if (n == 0) break;  // the end of the file
      start_ += static_cast<std::int64_t>(end_);
      if (direct) {
        start_ += n;
        next_ = end_ = 0;
        done += static_cast<std::size_t>(n);
      } else {
        next_ = 0;
        end_ = static_cast<std::size_t>(n);
      }
    }
    return static_cast<std::int64_t>(done);
  }

  std::int64_t Seek(std::int64_t offset, int whence) override {
    const std::int64_t here = start_ + static_cast<std::int64_t>(next_);
    if (whence == vestra::kSeekSet || whence == vestra::kSeekCurrent) {
      const std::int64_t to = whence == vestra::kSeekSet ? offset : here + offset;
      if (to < 0) return -1;
      if (to >= start_ && to <= start_ + static_cast<std::int64_t>(end_)) {
        next_ = static_cast<std::size_t>(to - start_);
        return to;
      }
      return Moved(HostSeek(to, vestra::kSeekSet));
    }
    return Moved(HostSeek(offset, whence));  // only the host knows where the end is now
  }

 private:
  static constexpr std::size_t kWindow = 32 * 1024;

  // The host moved its offset: the window is gone, an empty one starts there.
  std::int64_t Moved(std::int64_t at) {
    if (at >= 0) {
      start_ = at;
      next_ = end_ = 0;
    }
    return at;
  }

  std::unique_ptr<char[]> window_;  // made on the first small read
  std::int64_t start_ = 0;          // the file offset of the window's first byte
  std::size_t next_ = 0;            // the next byte the module reads, within the window
  std::size_t end_ = 0;             // bytes in the window; the host's offset is start_ + end_
};

CardEntry KindOf(const struct stat& s) {
  if (S_ISREG(s.st_mode)) return CardEntry::kFile;
  if (S_ISDIR(s.st_mode)) return CardEntry::kFolder;
  return CardEntry::kOther;
}

}  // namespace

FolderCard::FolderCard(fs::path root) : root_(std::move(root)) {}

std::string FolderCard::Host(const std::string& path) const {
  if (path.empty()) return root_.native();
  std::string host = root_.native();
  if (host.empty() || host.back() != '/') host += '/';
  host += path;
  return host;
}

const fs::path& FolderCard::RealRoot() const {
  if (!realRoot_) {
    std::error_code ec;
    fs::path real = fs::canonical(root_, ec);
    if (ec) {
      static const fs::path kNone;
      return kNone;
    }
    realRoot_ = std::move(real);
  }
  return *realRoot_;
}

bool FolderCard::Present() const {
  struct stat s {};
  return ::stat(root_.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

bool FolderCard::Reaches(const std::string& path) const {
  const fs::path& rootReal = RealRoot();
  if (rootReal.empty()) return false;
  // Without a link on the way, a path that never climbs stays inside: only a link needs resolving.
  std::string host = Host({});
  std::size_t from = 0;
  bool link = false;
  while (from < path.size() && !link) {
    const std::size_t slash = path.find('/', from);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (host.empty() || host.back() != '/') host += '/';
    host.append(path, from, end - from);
    struct stat s {};
    if (::lstat(host.c_str(), &s) != 0) break;  // nothing below a missing entry can be a link
    link = S_ISLNK(s.st_mode);
    from = end + 1;
  }
  if (!link) return true;
  std::error_code ec;
  const fs::path full = Host(path);
  // A link inside the card must not lead out of it, nor may a dangling one that writing would follow.
  if (fs::is_symlink(fs::symlink_status(full, ec)) && !fs::exists(full, ec)) return false;
  const fs::path real = fs::weakly_canonical(full, ec);
  return !ec && IsWithin(real, rootReal);
}

CardEntry FolderCard::Kind(const std::string& path, bool followLinks) const {
  struct stat s {};
  const std::string host = Host(path);
  const int rc = followLinks ? ::stat(host.c_str(), &s) : ::lstat(host.c_str(), &s);
  return rc == 0 ? KindOf(s) : CardEntry::kNone;
}

std::unique_ptr<CardHandle> FolderCard::Open(const std::string& path, CardOpenMode mode) {
  int flags = O_CLOEXEC;
  flags |= mode.read && mode.write ? O_RDWR : mode.write ? O_WRONLY : O_RDONLY;
  if (mode.append) flags |= O_APPEND;
  if (mode.create) flags |= O_CREAT;
  if (mode.truncate) flags |= O_TRUNC;
  // A card holds files and folders only: a fifo or a device in the host folder is a file the camera cannot
  // open. Opening without waiting keeps a fifo from blocking the module (and a power cut asked for meanwhile)
  // in open(2); the type is checked on what was opened, so nothing can be swapped in between.
  const int fd = ::open(Host(path).c_str(), flags | O_NONBLOCK | O_NOCTTY, 0666);  // the umask decides
  if (fd < 0) return nullptr;
  struct stat s {};
  if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode) || ::fcntl(fd, F_SETFL, flags & O_APPEND) != 0) {
    ::close(fd);
    return nullptr;
  }
  if (mode.write) return std::make_unique<FolderHandle>(fd);
  return std::make_unique<ReadAheadHandle>(fd);
}

std::optional<std::vector<std::string>> FolderCard::List(const std::string& path) const {
  std::error_code ec;
  auto it = fs::directory_iterator(Host(path), ec);
  if (ec) return std::nullopt;
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return std::nullopt;
    names.push_back(it->path().filename().string());
  }
  return names;
}

bool FolderCard::Remove(const std::string& path) {
  std::error_code ec;
  return fs::remove(Host(path), ec) && !ec;
}

}  // namespace sim
