// Where drive B keeps its bytes: a host folder, or memory for runs that must not touch the disk.
// Paths here are already normalised by the card: relative to the card's top, "/"-separated, no "." or
// "..", empty for the top itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace sim {

enum class CardEntry { kNone, kFile, kFolder, kOther };

struct CardOpenMode {
  bool read = false;
  bool write = false;
  bool create = false;
  bool truncate = false;
  bool append = false;  // every write goes to the end
};

// One open file. Positions are byte offsets; whence is the platform's (vestra::kSeekSet, ...).
class CardHandle {
 public:
  virtual ~CardHandle() = default;
  virtual std::int64_t Read(void* buffer, std::size_t count) = 0;  // bytes read, -1 on failure
  virtual std::int64_t Write(const void* buffer, std::size_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, int whence) = 0;  // the new position, -1 on failure
  virtual bool Close() = 0;                                        // false when the bytes did not land
};

class CardStorage {
 public:
  virtual ~CardStorage() = default;
  virtual bool Present() const = 0;
  // False when the path would leave the card through a link, or is a dangling link that writing would follow.
  virtual bool Reaches(const std::string& path) const = 0;
  virtual CardEntry Kind(const std::string& path, bool followLinks) const = 0;
  virtual std::unique_ptr<CardHandle> Open(const std::string& path, CardOpenMode mode) = 0;
  // The names in a folder, in no particular order; nothing when it cannot be listed.
  virtual std::optional<std::vector<std::string>> List(const std::string& path) const = 0;
  // A file, or an empty folder.
  virtual bool Remove(const std::string& path) = 0;
};

// Today's card: a host folder.
class FolderCard final : public CardStorage {
 public:
  explicit FolderCard(std::filesystem::path root);
  const std::filesystem::path& root() const { return root_; }

  bool Present() const override;
  bool Reaches(const std::string& path) const override;
  CardEntry Kind(const std::string& path, bool followLinks) const override;
  std::unique_ptr<CardHandle> Open(const std::string& path, CardOpenMode mode) override;
  std::optional<std::vector<std::string>> List(const std::string& path) const override;
  bool Remove(const std::string& path) override;

 private:
  std::string Host(const std::string& path) const;
  const std::filesystem::path& RealRoot() const;  // resolved once, when first needed

  std::filesystem::path root_;
  mutable std::optional<std::filesystem::path> realRoot_;
};

// A card in memory: folders and files, no links. A file removed while open stays readable through its
// handles, as on the host.
class MemoryCard final : public CardStorage {
 public:
  MemoryCard();

  // Places a file, making its folders.
  void Put(std::string_view path, std::string_view bytes);
  // Places a file whose bytes stay the caller's, not copied, until the card writes to it; they must outlive
  // the card. For a large file the camera only reads.
  void Lend(std::string_view path, std::string_view bytes);
  void MakeFolder(std::string_view path);
  std::optional<std::string> Get(std::string_view path) const;

  bool Present() const override { return true; }
  bool Reaches(const std::string&) const override { return true; }
  CardEntry Kind(const std::string& path, bool followLinks) const override;
  std::unique_ptr<CardHandle> Open(const std::string& path, CardOpenMode mode) override;
  std::optional<std::vector<std::string>> List(const std::string& path) const override;
  bool Remove(const std::string& path) override;

  // A file's bytes: its own, or lent ones until the first change.
  struct Contents {
    std::string own;
    std::string_view lent;
    bool lending = false;
    std::string_view view() const { return lending ? lent : std::string_view(own); }
    void clear() {
      own.clear();
      lending = false;
    }
    std::string& owned() {
      if (lending) {
        own.assign(lent);
        lending = false;
      }
      return own;
    }
  };

 private:
  struct Node {
    std::shared_ptr<Contents> bytes;  // null for a folder
  };
  struct PathHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
  };
  static std::string_view Parent(std::string_view path);
  bool IsFolder(std::string_view path) const;

  // Found by hash: every open looks a path up, and each string comparison in a tree is a memcmp, which a
  // fuzzer traces. A card holds a handful of entries, so listing a folder walks them all (the card sorts
  // what it lists).
  using Nodes = std::unordered_map<std::string, Node, PathHash, std::equal_to<>>;
  Nodes::iterator Add(std::string_view path, bool file);  // a new folder, or a new empty file
  Contents& Place(std::string_view path);  // the file at path, made if missing, ready for new bytes

  Nodes nodes_;
  // Entries removed lately, kept with their memory for the next file made: a fuzzer's file set is removed
  // and put back for every input.
  std::vector<Nodes::node_type> spare_;
};

}  // namespace sim
