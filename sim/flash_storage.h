// The flash chip's cells: a shared mapping of the flash file, so that the file holds what the chip holds at
// every instant, whatever stops the process; or plain memory when there is no file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace sim {

// Where a missing flash file is made before it is renamed into place: whoever stops the process on the way
// removes it.
std::filesystem::path FlashFileTemporary(const std::filesystem::path& file);

class FlashStorage {
 public:
  // The contents of a chip that was never written; fills the whole span.
  using Pattern = void (*)(std::span<std::uint8_t>);
  // A missing or empty file is created holding the pattern; a file of any other size than `size`, or one that
  // is not a regular file, is refused. An empty path keeps the cells in memory only.
  FlashStorage(const std::filesystem::path& file, std::uint32_t size, Pattern pattern);
  ~FlashStorage();
  FlashStorage(const FlashStorage&) = delete;
  FlashStorage& operator=(const FlashStorage&) = delete;

  // Cells kept in memory only are made on the first call.
  std::uint8_t* data() {
    if (data_ == nullptr) [[unlikely]]
      MakeInMemory();
    return data_;
  }
  std::uint32_t size() const { return size_; }
  bool mapped() const { return fileMapped_; }  // onto the flash file

 private:
  void MakeInMemory();

  std::uint32_t size_;
  Pattern pattern_ = nullptr;
  std::vector<std::uint8_t> memory_;
  void* map_ = nullptr;
  bool fileMapped_ = false;
  std::uint8_t* data_ = nullptr;
};

}  // namespace sim
