// Drive B in memory: the folder card's behaviour without a disk, for runs by the thousand.
#include <algorithm>
#include <cstring>

#include "sim/card_storage.h"

namespace sim {

namespace {

constexpr std::size_t kSpareEntries = 4;

class MemoryHandle final : public CardHandle {
 public:
  MemoryHandle(std::shared_ptr<MemoryCard::Contents> bytes, CardOpenMode mode)
      : bytes_(std::move(bytes)), mode_(mode) {}

  std::int64_t Read(void* buffer, std::size_t count) override {
    if (!mode_.read) return -1;
    const std::string_view bytes = bytes_->view();
    if (position_ >= bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(count, bytes.size() - position_);
    std::memcpy(buffer, bytes.data() + position_, n);
    position_ += n;
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Write(const void* buffer, std::size_t count) override {
    if (!mode_.write) return -1;
    std::string& bytes = bytes_->owned();
    if (mode_.append) position_ = bytes.size();
    if (bytes.size() < position_ + count) bytes.resize(position_ + count, '\0');  // a gap reads as zeros
    if (count > 0) std::memcpy(bytes.data() + position_, buffer, count);
    position_ += count;
    return static_cast<std::int64_t>(count);
  }
  std::int64_t Seek(std::int64_t offset, int whence) override {
    std::int64_t base;
    switch (whence) {
      case vestra::kSeekSet:
        base = 0;
        break;
      case vestra::kSeekCurrent:
        base = static_cast<std::int64_t>(position_);
        break;
      case vestra::kSeekEnd:
        base = static_cast<std::int64_t>(bytes_->view().size());
        break;
      default:
        return -1;
    }
    if (offset < -base) return -1;
    position_ = static_cast<std::size_t>(base + offset);
    return static_cast<std::int64_t>(position_);
  }
  bool Close() override { return true; }

 private:
  std::shared_ptr<MemoryCard::Contents> bytes_;
  CardOpenMode mode_;
  std::size_t position_ = 0;
};

}  // namespace

MemoryCard::MemoryCard() {
  nodes_.emplace("", Node{});
}

std::string_view MemoryCard::Parent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

bool MemoryCard::IsFolder(std::string_view path) const {
  const auto it = nodes_.find(path);
  return it != nodes_.end() && it->second.bytes == nullptr;
}

MemoryCard::Nodes::iterator MemoryCard::Add(std::string_view path, bool file) {
  Nodes::iterator it;
  if (spare_.empty()) {
    it = nodes_.emplace(path, Node{}).first;
  } else {
    Nodes::node_type node = std::move(spare_.back());
    spare_.pop_back();
    node.key() = path;
    it = nodes_.insert(std::move(node)).position;
  }
  std::shared_ptr<Contents>& bytes = it->second.bytes;
  if (!file) {
    bytes.reset();
  } else if (bytes != nullptr && bytes.use_count() == 1) {
    bytes->clear();  // the memory of a file removed earlier that nobody reads any more
  } else {
    bytes = std::make_shared<Contents>();
  }
  return it;
}

void MemoryCard::MakeFolder(std::string_view path) {
  if (path.empty() || nodes_.contains(path)) return;
  MakeFolder(Parent(path));
  Add(path, false);
}

MemoryCard::Contents& MemoryCard::Place(std::string_view path) {
  auto it = nodes_.find(path);
  if (it == nodes_.end()) {
    MakeFolder(Parent(path));
    it = Add(path, true);
  }
  std::shared_ptr<Contents>& file = it->second.bytes;
  // A handle still reading the old bytes keeps them; otherwise the file's memory is reused, which spares
  // a fuzzer that puts a file per input an allocation each time.
  if (file == nullptr || file.use_count() != 1) file = std::make_shared<Contents>();
  return *file;
}

void MemoryCard::Put(std::string_view path, std::string_view bytes) {
  Contents& file = Place(path);
  file.own.assign(bytes);
  file.lending = false;
}

void MemoryCard::Lend(std::string_view path, std::string_view bytes) {
  Contents& file = Place(path);
  file.clear();
  file.lent = bytes;
  file.lending = true;
}

std::optional<std::string> MemoryCard::Get(std::string_view path) const {
  const auto it = nodes_.find(path);
  if (it == nodes_.end() || it->second.bytes == nullptr) return std::nullopt;
  return std::string(it->second.bytes->view());
}

CardEntry MemoryCard::Kind(const std::string& path, bool) const {
  const auto it = nodes_.find(path);
  if (it == nodes_.end()) return CardEntry::kNone;
  return it->second.bytes == nullptr ? CardEntry::kFolder : CardEntry::kFile;
}

std::unique_ptr<CardHandle> MemoryCard::Open(const std::string& path, CardOpenMode mode) {
  auto it = nodes_.find(path);
  if (it == nodes_.end()) {
    if (!mode.create || !IsFolder(Parent(path))) return nullptr;
    it = Add(path, true);
  }
  if (it->second.bytes == nullptr) return nullptr;  // a folder
  if (mode.truncate) it->second.bytes->clear();
  return std::make_unique<MemoryHandle>(it->second.bytes, mode);
}

std::optional<std::vector<std::string>> MemoryCard::List(const std::string& path) const {
  if (!IsFolder(path)) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& [name, node] : nodes_) {
    if (name.empty() || Parent(name) != path) continue;  // the top is nobody's entry
    names.emplace_back(path.empty() ? std::string_view(name)
                                    : std::string_view(name).substr(path.size() + 1));
  }
  return names;
}

bool MemoryCard::Remove(const std::string& path) {
  const auto it = nodes_.find(path);
  if (path.empty() || it == nodes_.end()) return false;
  if (it->second.bytes == nullptr) {
    for (const auto& entry : nodes_) {
      if (!entry.first.empty() && Parent(entry.first) == path) return false;  // not empty
    }
  }
  if (spare_.size() < kSpareEntries) {
    spare_.push_back(nodes_.extract(it));
  } else {
    nodes_.erase(it);
  }
  return true;
}

}  // namespace sim
