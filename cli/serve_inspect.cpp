// The inspect subprocess of vupdate serve.
#include "cli/serve_inspect.h"

#include <cstdint>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/serve_impl.h"
#include "updatefile/update_file.h"

namespace fs = std::filesystem;

namespace vupdate::serve {

namespace {

constexpr std::size_t kInspectOutputMax = 256 * 1024;

}  // namespace

std::string RunCapturing(const std::vector<std::string>& argv, const fs::path& cwd, std::size_t max,
                         std::atomic<pid_t>* running) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return "Cannot run " + argv[0] + ".\n";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0].c_str(), &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  std::string output;
  if (spawned == 0) {
    running->store(child);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0 && output.size() < max) output.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    running->store(0);
  } else {
    output = "Cannot run " + argv[0] + ".\n";
  }
  ::close(pipeFds[0]);
  return output;
}

std::string Server::Impl::Inspect(const std::string& name) {
  std::lock_guard lock(inspectMutex);
  std::string shown = name;
  if (shown.empty()) {
    for (const CardFile& f : card->List()) {
      if (f.kind == "code file") {
        shown = f.name;
        break;
      }
    }
    if (shown.empty()) return "No code file on the card.\n";
  }
  const std::optional<fs::path> file = card->FilePath(shown);
  if (!file) return "No such file on the card.\n";
  const std::string text = profile->NameAndText().second;
  const fs::path profilePath = workDir / "inspect-camera.toml";
  if (vupdate::WriteFileAtomically(profilePath,
                                   {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}))
    return "Cannot write the camera profile for inspect.\n";
  // In the card's folder, by the name the page knows: the output shows no path of the server's. The name
  // starts with a letter or digit, and "--" ends the options all the same.
  std::string output =
      RunCapturing({options.vupdate.string(), "inspect", "--camera", profilePath.string(), "--", shown},
                   file->parent_path(), kInspectOutputMax, &inspectChild);
  std::error_code ec;
  fs::remove(profilePath, ec);
  for (std::size_t at = 0; (at = output.find(workDir.string(), at)) != std::string::npos;)
    output.replace(at, workDir.string().size(), "…");
  return output;
}

}  // namespace vupdate::serve
