#include "cli/file_bytes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace vupdate {

// A mapped file's pages are the page cache's: nothing is zeroed or copied, which halves what reading a whole
// update file costs. The price is that a page the file no longer reaches (someone truncated it) raises a bus
// error; the guard below turns that into the message the caller chose.
struct FileBytes::Mapping {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::array<char, 512> message{};
  std::size_t messageLength = 0;
  std::atomic<bool> taken{false};
};

namespace {

std::array<FileBytes::Mapping, 4>& Mappings() {
  static std::array<FileBytes::Mapping, 4> mappings;
  return mappings;
}

void OnBusError(int sig, siginfo_t* info, void*) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (const auto& m : Mappings()) {
    if (address >= m.begin.load() && address < m.end.load()) {
      (void)!::write(STDERR_FILENO, m.message.data(), m.messageLength);
      ::_exit(2);
    }
  }
  // Not one of ours: the default action, which the faulting access raises again on return.
  ::signal(sig, SIG_DFL);
}

FileBytes::Mapping* TakeMapping() {
  static std::once_flag guarded;
  std::call_once(guarded, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, nullptr);
  });
  for (auto& m : Mappings()) {
    if (!m.taken.exchange(true)) return &m;
  }
  return nullptr;  // more files at once than slots: they are copied
}

}  // namespace

FileBytes::~FileBytes() {
  Release();
}

void FileBytes::Release() {
  if (mapping_ != nullptr) {
    // The end goes first: a guard that sees a range at all sees a whole one.
    mapping_->end = 0;
    mapping_->begin = 0;
    ::munmap(const_cast<std::uint8_t*>(data_), size_);
    mapping_->taken = false;
  }
  if (copy_ != nullptr) ::munmap(copy_, size_);
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
  copy_ = nullptr;
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      copy_(std::exchange(other.copy_, nullptr)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapping_ = std::exchange(other.mapping_, nullptr);
    copy_ = std::exchange(other.copy_, nullptr);
  }
  return *this;
}

std::optional<FileBytes> FileBytes::Read(const std::string& path, std::size_t largest, std::string* error,
                                         Failure* failure, std::string shrunkMessage) {
  const auto fail = [&](const std::string& why,
                        Failure kind = Failure::kUnreadable) -> std::optional<FileBytes> {
    if (error) *error = why;
    if (failure) *failure = kind;
    return std::nullopt;
  };
  // Non-blocking, so that a fifo put in the file's place since it was checked is refused, not waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size > largest)
    return fail("is " + std::to_string(size) + " bytes, far more than an update file", Failure::kTooLarge);
  if (failure) *failure = Failure::kNone;

  FileBytes file;
  file.size_ = size;
  if (size == 0) return file;

  if (Mapping* slot = TakeMapping()) {
    void* pages = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (pages != MAP_FAILED) {
      shrunkMessage += '\n';
      slot->messageLength = std::min(shrunkMessage.size(), slot->message.size());
      std::memcpy(slot->message.data(), shrunkMessage.data(), slot->messageLength);
      slot->begin = reinterpret_cast<std::uintptr_t>(pages);
      slot->end = reinterpret_cast<std::uintptr_t>(pages) + size;
      file.mapping_ = slot;
      file.data_ = static_cast<const std::uint8_t*>(pages);
      return file;
    }
    slot->taken = false;
  }

  // A file system that cannot map the file: a copy, in pages populated in one call rather than a fault each.
  void* memory =
      ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (memory == MAP_FAILED) return fail(std::strerror(errno));
  file.copy_ = static_cast<std::uint8_t*>(memory);
  file.data_ = file.copy_;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, file.copy_ + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(std::strerror(errno));
    if (n == 0) return fail("the file shrank while it was read");
    done += static_cast<std::size_t>(n);
  }
  return file;
}

}  // namespace vupdate
