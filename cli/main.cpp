// vupdate: make, check and run update files on the simulated camera.
#include <cstdio>
#include <exception>
#include <string>

#include "cli/commands.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"vupdate: pack, inspect and run Vestra update files on a simulated camera"};
  app.set_version_flag("--version", std::string("vupdate ") + VESTRA_VERSION);
  app.require_subcommand(1);
  int exitCode = kExitOk;
  AddRunCommand(app, &exitCode);
  AddPackCommand(app, &exitCode);
  AddInspectCommand(app, &exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever a command did not expect still ends with a message and a failure, never an abort.
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vupdate: %s\n", e.what());
  } catch (...) {
    std::fputs("vupdate: unexpected failure\n", stderr);
  }
  return kExitFailed;
}
