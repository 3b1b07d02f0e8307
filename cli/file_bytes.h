// A whole input file in memory, read in one go into pages the kernel hands over at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cli {

class FileBytes {
 public:
  FileBytes() = default;
  ~FileBytes();
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

  enum class Failure { kNone, kUnreadable, kTooLarge };

  // The file as it is when opened. More than `largest` bytes, or a file that shrinks while it is read, is a
  // failure, with the reason in *error.
  static std::optional<FileBytes> Read(const std::string& path, std::size_t largest, std::string* error,
                                       Failure* failure = nullptr);

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t mapped_ = 0;
};

}  // namespace cli
