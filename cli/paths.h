// Checks of the files and folders a command is given, made before it changes anything; each answer is the
// one line that names the problem, or nothing when the path will do.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vupdate::paths {

using Problem = std::optional<std::string>;

// What a path names, in words: "a folder", "a fifo", "a socket", …
std::string KindOf(const struct stat& st);

// The path as it is shown in messages: quoted, any bytes escaped.
std::string Shown(const std::filesystem::path& path);

// A regular file that can be read (symbolic links followed).
Problem CheckInputFile(std::string_view what, const std::string& path);

// A flash ROM file: a regular file of exactly 2 MiB, or empty, or missing (both stand for the old firmware).
// For writing it must open for writing too, and a missing one needs a folder it can be made in.
Problem CheckFlashFile(std::string_view what, const std::string& path, bool forWriting);

// A folder that exists.
Problem CheckInputFolder(std::string_view what, const std::string& path);

// A regular file that may be replaced or written, or a new file in a folder that exists and can be written.
// A symbolic link is refused when `linkAllowed` is false (a file renamed into place would replace the link).
Problem CheckOutputFile(std::string_view what, const std::string& path, bool linkAllowed);

// A folder that exists and can be written, or a new one in a folder that does.
Problem CheckOutputFolder(std::string_view what, const std::string& path);

// A file as the system knows it, whatever path reaches it: hard links and bind mounts share one.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};
std::optional<FileId> IdOf(const std::filesystem::path& path);

// Whether two paths name the same file, through symbolic links and `..`, whether they exist yet or not.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether `path` lies inside `folder` (or is the folder), by the folders it passes through, not their names.
bool Inside(const std::filesystem::path& path, const std::filesystem::path& folder);

}  // namespace vupdate::paths
