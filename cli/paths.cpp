#include "cli/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/hardware.h"
#include "updatefile/inspect_file.h"

namespace fs = std::filesystem;

namespace vupdate::paths {

namespace {

std::string Named(std::string_view what, const std::string& path) {
  return std::string(what) + " " + Shown(path);
}

// Root passes access(2) for every file; a file nobody may write is still not to be written.
bool Writable(const std::string& path, const struct stat& st) {
  return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

Problem CheckParent(std::string_view what, const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Named(what, path) + " cannot be made: its folder does not exist";
  }
  if (::access(folder.c_str(), W_OK) != 0) {
    return Named(what, path) + " cannot be made: its folder cannot be written (" + std::strerror(errno) + ")";
  }
  return std::nullopt;
}

// Whether lstat found a symbolic link whose target is missing; fills `st` with the target's status otherwise.
bool Dangling(const std::string& path, struct stat& st, bool& isLink, bool& exists) {
  struct stat link {};
  exists = ::lstat(path.c_str(), &link) == 0;
  isLink = exists && S_ISLNK(link.st_mode);
  if (!exists) return false;
  if (::stat(path.c_str(), &st) != 0) return isLink;
  return false;
}

fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? fs::absolute(path, ec).lexically_normal() : resolved;
}

}  // namespace

std::string KindOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a fifo";
  if (S_ISCHR(st.st_mode)) return "a character device";
  if (S_ISBLK(st.st_mode)) return "a block device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a file";
}

std::string Shown(const fs::path& path) {
  return "'" + vupdate::EscapeBytes(path.string()) + "'";
}

Problem CheckInputFile(std::string_view what, const std::string& path) {
  if (path.empty()) return std::string(what) + ": the path is empty";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Named(what, path) + ": " + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return Named(what, path) + " is " + KindOf(st) + ", not a file";
  if (::access(path.c_str(), R_OK) != 0)
    return Named(what, path) + " cannot be read: " + std::strerror(errno);
  return std::nullopt;
}

Problem CheckFlashFile(std::string_view what, const std::string& path, bool forWriting) {
  if (forWriting) {
    if (auto problem = CheckOutputFile(what, path, true)) return problem;
  } else {
    struct stat st {};
    if (path.empty()) return std::string(what) + ": the path is empty";
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
      bool isLink = false, exists = false;
      if (Dangling(path, st, isLink, exists)) return Named(what, path) + " is a symbolic link to nothing";
      return std::nullopt;
    }
    if (auto problem = CheckInputFile(what, path)) return problem;
  }
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::nullopt;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || (size != 0 && size != vestra::kFlashSize)) {
    return Named(what, path) + " must hold exactly " + std::to_string(vestra::kFlashSize) +
           " bytes (it holds " + std::to_string(size) + "), or nothing";
  }
  if (!forWriting) return std::nullopt;
  // Written in place throughout the run: it must open for writing now, not fail half way.
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return Named(what, path) + " cannot be opened for writing";
  ::close(fd);
  return std::nullopt;
}

Problem CheckInputFolder(std::string_view what, const std::string& path) {
  if (path.empty()) return std::string(what) + ": the path is empty";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Named(what, path) + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return Named(what, path) + " is not a folder";
  return std::nullopt;
}

Problem CheckOutputFile(std::string_view what, const std::string& path, bool linkAllowed) {
  if (path.empty()) return std::string(what) + ": the path is empty";
  struct stat st {};
  bool isLink = false, exists = false;
  if (Dangling(path, st, isLink, exists)) return Named(what, path) + " is a symbolic link to nothing";
  if (isLink && !linkAllowed) return Named(what, path) + " is a symbolic link; name the file itself";
  if (!exists) return CheckParent(what, path);
  if (!S_ISREG(st.st_mode))
    return Named(what, path) + " is " + KindOf(st) + "; only a regular file is written";
  if (!Writable(path, st)) return Named(what, path) + " is read-only";
  return CheckParent(what, path);
}

Problem CheckOutputFolder(std::string_view what, const std::string& path) {
  if (path.empty()) return std::string(what) + ": the path is empty";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return CheckParent(what, path);
  if (!S_ISDIR(st.st_mode)) return Named(what, path) + " is " + KindOf(st) + ", not a folder";
  if (::access(path.c_str(), W_OK) != 0)
    return Named(what, path) + " cannot be written: " + std::strerror(errno);
  return std::nullopt;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return Resolved(a) == Resolved(b);
}

std::optional<FileId> IdOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

bool Inside(const fs::path& path, const fs::path& folder) {
  const std::optional<FileId> target = IdOf(folder);
  if (!target) {
    // A folder still to be made holds nothing yet but what its name reaches.
    const fs::path p = Resolved(path), f = Resolved(folder);
    auto fi = f.begin(), pi = p.begin();
    for (; fi != f.end(); ++fi, ++pi) {
      if (fi->empty()) continue;  // a trailing separator
      if (pi == p.end() || *pi != *fi) return false;
    }
    return true;
  }
  // Up from the path, through whatever of it exists: a bind mount or a link names the folder by another path.
  for (fs::path p = Resolved(path);; p = p.parent_path()) {
    if (IdOf(p) == target) return true;
    if (p == p.parent_path()) return false;
  }
}

}  // namespace vupdate::paths
