// The memory card's drive B as the camera's file system presents it: "/B/..." paths, descriptors, streams,
// sorted listings and the update log's lines. Where the bytes live is the storage's business
// (card_storage.h).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"
#include "sim/card_storage.h"

namespace sim {

class Camera;

// The camera's file system refuses more than this many open files at once.
constexpr int kMaxOpenFiles = 16;

// A file's path as the storage takes it (relative to the card's top) and as the write observer sees it.
struct CardPath {
  std::string relative;
  std::string drive;
};

class Card {
 public:
  Card(Camera& camera, std::shared_ptr<CardStorage> storage);
  ~Card();
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;

  CardStorage& storage() { return *storage_; }

  // Whether a card path names a place on drive B that stays on the card.
  bool Reaches(std::string_view cardPath) const;
  // Takes a file away as a person would, by its path relative to the card's top (key scripts name files
  // this way); what the module holds open stays readable. Not an access by the camera.
  bool RemoveRelative(std::string_view relative);

  bool DriveAvailable() const;

  // Descriptors: small non-negative numbers, negative on failure.
  std::int32_t Open(const char* path, std::int32_t flags);
  std::int32_t Close(std::int32_t fd);
  std::int32_t Read(std::int32_t fd, void* buffer, std::uint32_t count);
  std::int32_t Seek(std::int32_t fd, std::int32_t offset, std::int32_t whence);

  // Entries come sorted by name, without "." and "..".
  vestra::DIR* OpenDir(const char* path);
  vestra::dirent* ReadDir(vestra::DIR* dir);  // null at the end
  std::int32_t CloseDir(vestra::DIR* dir);

  std::int32_t Remove(const char* path);

  vestra::FILE* OpenStream(const char* path, const char* mode);
  std::uint32_t ReadStream(void* buffer, std::uint32_t size, std::uint32_t count, vestra::FILE* stream);
  std::uint32_t WriteStream(const void* buffer, std::uint32_t size, std::uint32_t count,
                            vestra::FILE* stream);
  std::int32_t SeekStream(vestra::FILE* stream, std::int32_t offset, std::int32_t whence);
  std::int32_t CloseStream(vestra::FILE* stream);

  // Sees every byte written to a card file, with the file's drive path ("/B/SYSTEM/X"), as it is written:
  // what a probe on the card's bus would see. One observer; null removes it.
  using WriteObserver = std::function<void(std::string_view drivePath, std::string_view bytes)>;
  void SetWriteObserver(WriteObserver observer) { writeObserver_ = std::move(observer); }
  // Open descriptors, directories and streams: what the module left open.
  int OpenCount() const;

 private:
  using CardPathPtr = std::shared_ptr<const CardPath>;
  struct PathHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
  };

  bool Guard();       // false when the drive is not there; counts access inside the interrupt lock
  void NoteAccess();  // only the count: for calls on what is already open, which would not look at the folder
  void NoteWrite(const CardPath& path, std::string_view bytes);
  static std::optional<std::string> Normalise(std::string_view cardPath);
  // Null when the path leaves drive B or the storage says it would leave the card.
  const CardPathPtr& Resolve(std::string_view cardPath) const;

  Camera& camera_;
  std::shared_ptr<CardStorage> storage_;
  // The module names the same few files over and over: each spelling is normalised once. Only the
  // spelling is kept, never whether the storage reaches it, which links on the host may change.
  mutable std::unordered_map<std::string, CardPathPtr, PathHash, std::equal_to<>> paths_;
  std::map<std::int32_t, std::unique_ptr<CardHandle>> descriptors_;
  std::vector<std::unique_ptr<vestra::DIR>> dirs_;
  std::vector<std::unique_ptr<vestra::FILE>> streams_;
  std::unique_ptr<vestra::FILE> spareStream_;  // the last one closed: the log opens a stream per line
  WriteObserver writeObserver_;
};

}  // namespace sim
