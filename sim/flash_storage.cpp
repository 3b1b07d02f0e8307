#include "sim/flash_storage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace sim {

namespace {

std::runtime_error Failure(const std::filesystem::path& file, const std::string& what, int error) {
  return std::runtime_error("flash file '" + file.string() + "': " + what + ": " + std::strerror(error));
}

// Closes on every exit path.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes a whole new flash beside the target and renames it into place, so that nobody ever sees half of one.
void CreateFlashFile(const std::filesystem::path& file, std::uint32_t size, FlashStorage::Pattern pattern) {
  const std::filesystem::path temp = FlashFileTemporary(file);
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (fd.get() < 0) throw Failure(file, "cannot create it", errno);
  std::vector<std::uint8_t> bytes(size);
  pattern(bytes);
  int error = 0;
  if (!WriteAll(fd.get(), bytes.data(), bytes.size())) error = errno != 0 ? errno : ENOSPC;
  if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    throw Failure(file, "cannot write it", error);
  }
}

// A new chip's contents are the same for every camera of a process: made once into a memory file, which
// each camera maps privately. Null when the host cannot; the caller then fills plain memory.
void* MapPatternPrivately(std::uint32_t size, FlashStorage::Pattern pattern) {
  static std::mutex mutex;
  static int fd = -1;
  static std::uint32_t fdSize = 0;
  static FlashStorage::Pattern fdPattern = nullptr;
  const std::lock_guard<std::mutex> lock(mutex);
  if (fd < 0 || fdSize != size || fdPattern != pattern) {
    if (fd >= 0) ::close(fd);  // mappings made from it stay valid
    fd = ::memfd_create("vestra-flash", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    std::vector<std::uint8_t> bytes(size);
    pattern(bytes);
    if (!WriteAll(fd, bytes.data(), bytes.size())) {
      ::close(fd);
      fd = -1;
      return nullptr;
    }
    fdSize = size;
    fdPattern = pattern;
  }
  void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
  return map == MAP_FAILED ? nullptr : map;
}

}  // namespace

std::filesystem::path FlashFileTemporary(const std::filesystem::path& file) {
  std::filesystem::path temp = file;
  temp += ".new-" + std::to_string(::getpid());
  return temp;
}

FlashStorage::FlashStorage(const std::filesystem::path& file, std::uint32_t size, Pattern pattern)
    : size_(size) {
  if (file.empty()) {
    pattern_ = pattern;
    return;
  }
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    if (errno != ENOENT) throw Failure(file, "cannot look at it", errno);
    CreateFlashFile(file, size, pattern);
  } else if (S_ISREG(st.st_mode) && st.st_size == 0) {
    CreateFlashFile(file, size, pattern);  // an empty file stands for a new chip
  }
  Fd fd(::open(file.c_str(), O_RDWR | O_CLOEXEC));
  if (fd.get() < 0) throw Failure(file, "cannot open it for reading and writing", errno);
  if (::fstat(fd.get(), &st) != 0) throw Failure(file, "cannot look at it", errno);
  if (!S_ISREG(st.st_mode)) {
    throw std::runtime_error("flash file '" + file.string() + "' is not a regular file");
  }
  if (st.st_size != static_cast<off_t>(size)) {
    throw std::runtime_error("flash file '" + file.string() + "' holds " + std::to_string(st.st_size) +
                             " bytes; a flash file holds exactly " + std::to_string(size));
  }
  // A store into a mapped page that the disk cannot hold kills the process with SIGBUS: every block is
  // claimed now, while a refusal can still be reported.
  if (const int error = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(size)); error != 0) {
    throw Failure(file, "cannot reserve its space on the disk", error);
  }
  map_ = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (map_ == MAP_FAILED) {
    map_ = nullptr;
    throw Failure(file, "cannot map it", errno);
  }
  data_ = static_cast<std::uint8_t*>(map_);
  fileMapped_ = true;
}

void FlashStorage::MakeInMemory() {
  // A page of the new chip is copied only when written: most cameras never program theirs.
  map_ = MapPatternPrivately(size_, pattern_);
  if (map_ != nullptr) {
    data_ = static_cast<std::uint8_t*>(map_);
    return;
  }
  memory_.resize(size_);
  pattern_(memory_);
  data_ = memory_.data();
}

FlashStorage::~FlashStorage() {
  // The pages stay in the file once unmapped; the kernel writes them out as it does for a killed process.
  if (map_ != nullptr) ::munmap(map_, size_);
}

}  // namespace sim
