// The card of vupdate serve: names a browser may use, the SYSTEM folder's files, uploads, pulling it out.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <system_error>

#include <unistd.h>

#include "cli/serve.h"
#include "package/update_set.h"

namespace fs = std::filesystem;

namespace vupdate::serve {

namespace {

constexpr std::size_t kLongestName = 64;
constexpr const char* kSystem = "SYSTEM";
constexpr const char* kUploadPrefix = ".upload-";

// Moves every entry of one folder into another; across file systems by copy and removal.
std::string MoveEntries(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (ec) return "cannot make '" + to.string() + "': " + ec.message();
  for (const fs::directory_entry& entry : fs::directory_iterator(from, ec)) {
    const fs::path target = to / entry.path().filename();
    fs::rename(entry.path(), target, ec);
    if (ec == std::errc::cross_device_link) {
      ec.clear();
      fs::copy(entry.path(), target, fs::copy_options::recursive, ec);
      if (!ec) fs::remove_all(entry.path(), ec);
    }
    if (ec) return "cannot move '" + entry.path().string() + "': " + ec.message();
  }
  return ec ? "cannot read '" + from.string() + "': " + ec.message() : "";
}

}  // namespace

bool ValidCardName(std::string_view name) {
  if (name.empty() || name.size() > kLongestName) return false;
  if (!std::isalnum(static_cast<unsigned char>(name.front()))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
  });
}

std::string CardFileKind(std::string_view name) {
  // The camera's own rule, case and all: a name it would pass over is not a code file.
  if (IsCodeFileName(name)) return "code file";
  if (name == LeafName(kFontFilePath)) return "font file";
  if (name == LeafName(kCamFilePath)) return "companion file";
  if (name == LeafName(kLogFilePath)) return "update log";
  return "other";
}

CardSlot::CardSlot(fs::path cardDir, fs::path pulledDir)
    : cardDir_(std::move(cardDir)), pulledDir_(std::move(pulledDir)) {}

bool CardSlot::inserted() const {
  std::lock_guard lock(mutex_);
  return inserted_;
}

fs::path CardSlot::Where() const {
  return (inserted_ ? cardDir_ : pulledDir_) / kSystem;
}

std::vector<CardFile> CardSlot::List() const {
  std::lock_guard lock(mutex_);
  std::vector<CardFile> files;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(Where(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(kUploadPrefix)) continue;
    std::error_code sizeError;
    const bool regular = entry.is_regular_file(sizeError);
    files.push_back(
        {name, regular ? entry.file_size(sizeError) : 0, regular ? CardFileKind(name) : "folder"});
  }
  std::sort(files.begin(), files.end(), [](const CardFile& a, const CardFile& b) { return a.name < b.name; });
  return files;
}

std::string CardSlot::LogText(std::size_t maxBytes) const {
  std::lock_guard lock(mutex_);
  std::ifstream in(Where() / "UPDATE.LOG", std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff start =
      size > static_cast<std::streamoff>(maxBytes) ? size - static_cast<std::streamoff>(maxBytes) : 0;
  in.seekg(start);
  std::string text(static_cast<std::size_t>(size - start), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return text;
}

std::optional<fs::path> CardSlot::FilePath(std::string_view name) const {
  if (!ValidCardName(name)) return std::nullopt;
  std::lock_guard lock(mutex_);
  const fs::path path = Where() / name;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  return path;
}

std::string CardSlot::Put(std::string_view name, std::string_view bytes) {
  if (!ValidCardName(name)) return "not a file name for the card";
  std::lock_guard lock(mutex_);
  if (!inserted_) return "the card is not in the camera";
  const fs::path folder = Where();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot make the card's SYSTEM folder: " + ec.message();
  // Beside the target, so that the rename is atomic; the camera skips names with a leading dot.
  static std::atomic<unsigned> serial{0};
  const fs::path temp =
      folder / (std::string(kUploadPrefix) + std::to_string(::getpid()) + "-" + std::to_string(serial++));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      return "cannot write to the card";
    }
  }
  fs::rename(temp, folder / name, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return "cannot put the file on the card: " + ec.message();
  }
  return {};
}

std::string CardSlot::Remove(std::string_view name) {
  if (!ValidCardName(name)) return "not a file name for the card";
  std::lock_guard lock(mutex_);
  if (!inserted_) return "the card is not in the camera";
  std::error_code ec;
  const fs::path path = Where() / name;
  if (!fs::is_regular_file(path, ec)) return "no such file on the card";
  if (!fs::remove(path, ec)) return "cannot remove the file: " + ec.message();
  return {};
}

std::string CardSlot::Pull() {
  std::lock_guard lock(mutex_);
  if (!inserted_) return "the card is already out";
  if (std::string error = MoveEntries(cardDir_, pulledDir_); !error.empty()) return error;
  inserted_ = false;
  return {};
}

std::string CardSlot::Insert() {
  std::lock_guard lock(mutex_);
  if (inserted_) return "the card is already in";
  if (std::string error = MoveEntries(pulledDir_, cardDir_); !error.empty()) return error;
  inserted_ = true;
  return {};
}

}  // namespace vupdate::serve
