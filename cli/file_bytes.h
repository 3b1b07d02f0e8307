// A whole input file in memory: the file's own pages mapped where the system allows, a copy otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vupdate {

class FileBytes {
 public:
  FileBytes() = default;
  ~FileBytes();
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }
  bool mapped() const { return mapping_ != nullptr; }

  enum class Failure { kNone, kUnreadable, kTooLarge };

  // The file as it is when opened; more than `largest` bytes is a failure, with the reason in *error.
  // While the bytes are mapped, a file cut short by someone else ends the process with exit status 2 and
  // `shrunkMessage` on standard error, where reading a vanished page would otherwise be a bus error.
  static std::optional<FileBytes> Read(const std::string& path, std::size_t largest, std::string* error,
                                       Failure* failure = nullptr, std::string shrunkMessage = {});

  struct Mapping;  // what the bus-error guard knows of a mapped file

 private:
  void Release();

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  Mapping* mapping_ = nullptr;    // the file's pages, mapped
  std::uint8_t* copy_ = nullptr;  // or a copy, where the file cannot be mapped
};

}  // namespace vupdate
