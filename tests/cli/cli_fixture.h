// vupdate as a person runs it: a process of its own, its output, how it ended, and the files around it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../sim/sim_fixture.h"

extern char** environ;

namespace cli_test {

namespace fs = std::filesystem;
using sim_test::ReadFile;
using sim_test::WriteFile;

struct Outcome {
  int exit = -1;   // -1 when a signal ended it
  int signal = 0;  // the signal that ended it
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work_);
    fs::create_directories(tmp_);
  }

  // Starts vupdate; its output and its temporary files (TMPDIR) stay out of the folder the test watches.
  pid_t Start(const std::vector<std::string>& args) {
    std::vector<std::string> all = {program_.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"TMPDIR=" + tmp_.string()};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 1, (io_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&io, 2, (io_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!cwd_.empty()) posix_spawn_file_actions_addchdir_np(&io, cwd_.c_str());
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, program_.c_str(), &io, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&io);
    return pid;
  }

  Outcome Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0,
              ReadFile(io_ / "out"), ReadFile(io_ / "err")};
    return o;
  }

  Outcome Vupdate(const std::vector<std::string>& args) { return Wait(Start(args)); }

  // Every entry under the watched folder: kind, mode and contents, so one comparison shows any change.
  std::map<std::string, std::string> DiskState() const {
    std::map<std::string, std::string> state;
    for (const auto& e : fs::recursive_directory_iterator(work_)) {
      struct stat st {};
      ::lstat(e.path().c_str(), &st);
      std::string entry = std::to_string(st.st_mode);
      if (S_ISREG(st.st_mode)) entry += " " + std::to_string(std::hash<std::string>{}(ReadFile(e.path())));
      state[fs::relative(e.path(), work_).string()] = entry;
    }
    return state;
  }

  bool TemporariesLeft() const { return !fs::is_empty(tmp_); }

  sim_test::TempDir dir_;
  fs::path program_ = VUPDATE_PATH;
  fs::path work_ = dir_.path() / "work", io_ = dir_.path(), tmp_ = dir_.path() / "tmp";
  fs::path cwd_;  // where vupdate starts; empty: here
};

// Makes what a row names at `path`: a fifo, a device node (false where mknod is not allowed), a folder.
enum class Kind { kNone, kFile, kFolder, kFifo, kDevice, kReadOnly, kDanglingLink };

inline bool Make(Kind kind, const fs::path& path) {
  switch (kind) {
    case Kind::kNone:
      return true;
    case Kind::kFile:
      WriteFile(path, "earlier");
      return true;
    case Kind::kFolder:
      return fs::create_directories(path);
    case Kind::kFifo:
      return ::mkfifo(path.c_str(), 0644) == 0;
    case Kind::kDevice:
      return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    case Kind::kReadOnly:
      WriteFile(path, std::string(0x200000, '\x55'));
      fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
      return true;
    case Kind::kDanglingLink:
      fs::create_symlink(path.parent_path() / "missing", path);
      return true;
  }
  return false;
}

}  // namespace cli_test
