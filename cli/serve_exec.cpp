// vupdate serve in vupdate itself: the HTTP server, and OpenSSL behind it, live in vupdate-serve so that no
// other command loads them. The same process goes on as vupdate-serve with the same arguments, so its output,
// its signals and its exit status are the server's own.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include <unistd.h>

#include "cli/commands.h"
#include "cli/paths.h"

namespace fs = std::filesystem;

namespace vupdate {

int Serve(const serve::Options& /*options*/, char** argv) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    // Beside vupdate in a build folder; under libexec once installed.
    for (const fs::path& candidate : {self.parent_path() / "vupdate-serve",
                                      self.parent_path() / "../libexec/vestra-updater/vupdate-serve"}) {
      ::execv(candidate.c_str(), argv);
      if (errno != ENOENT && errno != ENOTDIR) {
        std::cerr << "vupdate serve: cannot start " << paths::Shown(candidate) << ": " << std::strerror(errno)
                  << "\n";
        return kExitUsage;
      }
    }
  }
  std::cerr << "vupdate serve: vupdate-serve not found next to vupdate or in ../libexec/vestra-updater\n";
  return kExitUsage;
}

}  // namespace vupdate
