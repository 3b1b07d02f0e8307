#include "cli/card_copy.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

#include "package/update_set.h"
#include "platform/files.h"
#include "updatefile/inspect_file.h"

namespace fs = std::filesystem;

namespace vupdate::cardcopy {

namespace {

paths::Problem NotCopied(const fs::path& root, const std::string& rel, const std::string& why) {
  return "--card " + paths::Shown(root) + ": " + paths::Shown(rel) + " " + why +
         "; a copy of the card holds files and folders only (--in-place runs on the folder as it is)";
}

std::optional<std::string> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(bytes).str();
}

void DescribeFolder(sim::CardStorage& card, const std::string& folder, Contents& out) {
  auto names = card.List(folder).value_or(std::vector<std::string>{});
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = folder;
    if (!path.empty()) path += '/';
    path += name;
    if (card.Kind(path, true) == sim::CardEntry::kFolder) {
      out.entries.push_back({path + "/", 0});
      DescribeFolder(card, path, out);
      continue;
    }
    Entry entry{path, 0};
    if (auto handle = card.Open(path, sim::CardOpenMode{.read = true})) {
      const std::int64_t end = handle->Seek(0, vestra::kSeekEnd);
      if (end > 0) entry.size = static_cast<std::uint64_t>(end);
      if (path == OnCard(kLogFilePath) && end >= 0 && handle->Seek(0, vestra::kSeekSet) == 0) {
        std::string text(static_cast<std::size_t>(end), '\0');
        const std::int64_t got = handle->Read(text.data(), text.size());
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        out.log = std::move(text);
      }
      handle->Close();
    }
    out.entries.push_back(std::move(entry));
  }
}

}  // namespace

paths::Problem Read(const fs::path& root, sim::MemoryCard* card, Walk* walk) {
  std::error_code ec;
  const fs::path realRoot = fs::canonical(root, ec);
  if (ec) return "--card " + paths::Shown(root) + ": " + ec.message();
  std::uintmax_t total = 0;
  // The folder itself is taken as it is, whatever part of it cannot be listed; a copy must be whole.
  const auto options =
      card != nullptr ? fs::directory_options::none : fs::directory_options::skip_permission_denied;
  fs::recursive_directory_iterator it(root, options, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (walk->files.size() >= kMostEntries) {
      return "--card " + paths::Shown(root) + " holds more than " + std::to_string(kMostEntries) +
             " entries, far more than a camera's card";
    }
    const fs::path& host = it->path();
    const std::string rel = fs::relative(host, root, ec).generic_string();
    struct stat link {
    }, st{};
    if (::lstat(host.c_str(), &link) != 0) return NotCopied(root, rel, "cannot be read");
    const bool isLink = S_ISLNK(link.st_mode);
    const bool reaches = ::stat(host.c_str(), &st) == 0;
    if (reaches) walk->files.push_back({st.st_dev, st.st_ino});
    if (S_ISDIR(link.st_mode)) {
      if (card != nullptr) card->MakeFolder(rel);
      continue;
    }
    if (card == nullptr) continue;
    if (isLink) {
      // A link stays as what it names while that lies inside the card: the camera follows it only there.
      const fs::path target = fs::canonical(host, ec);
      const auto [inside, _] = std::mismatch(realRoot.begin(), realRoot.end(), target.begin(), target.end());
      if (ec || !reaches || inside != realRoot.end()) {
        ec.clear();
        return NotCopied(root, rel, "is a symbolic link that leads out of the card or to nothing");
      }
      if (S_ISDIR(st.st_mode)) return NotCopied(root, rel, "is a symbolic link to a folder");
    }
    if (!S_ISREG(st.st_mode)) return NotCopied(root, rel, "is " + paths::KindOf(st));
    total += static_cast<std::uintmax_t>(st.st_size);
    if (total > kLargestCopy) {
      return "--card " + paths::Shown(root) +
             " holds more than 1 GiB, far more than a camera's card; --in-place runs on the folder itself";
    }
    auto bytes = ReadWhole(host);
    if (!bytes) return NotCopied(root, rel, "cannot be read");
    card->Put(rel, *bytes);
  }
  if (ec) return "--card " + paths::Shown(root) + ": " + ec.message();
  return std::nullopt;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

Contents Describe(sim::CardStorage& card) {
  Contents out;
  DescribeFolder(card, "", out);
  return out;
}

}  // namespace vupdate::cardcopy
