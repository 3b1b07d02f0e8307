#include "cli/file_bytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace cli {

FileBytes::~FileBytes() {
  if (mapped_ > 0) ::munmap(data_, mapped_);
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    if (mapped_ > 0) ::munmap(data_, mapped_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

std::optional<FileBytes> FileBytes::Read(const std::string& path, std::size_t largest, std::string* error,
                                         Failure* failure) {
  const auto fail = [&](const std::string& why,
                        Failure kind = Failure::kUnreadable) -> std::optional<FileBytes> {
    if (error) *error = why;
    if (failure) *failure = kind;
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
  // Populated up front: one call maps every page, where touching them one by one through read() took a
  // page fault each, as long as summing the bytes.
  void* memory =
      ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (memory == MAP_FAILED) return fail(std::strerror(errno));
  file.data_ = static_cast<std::uint8_t*>(memory);
  file.mapped_ = size;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, file.data_ + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(std::strerror(errno));
    if (n == 0) return fail("the file shrank while it was read");
    done += static_cast<std::size_t>(n);
  }
  return file;
}

}  // namespace cli
