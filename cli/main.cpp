// vupdate: make, check and run update files on the simulated camera.
#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"vupdate: pack, inspect and run Vestra update files on a simulated camera"};
  app.require_subcommand(1);
  int exitCode = kExitOk;
  AddRunCommand(app, &exitCode);
  AddPackCommand(app, &exitCode);
  AddInspectCommand(app, &exitCode);
  AddSweepCommand(app, &exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  return exitCode;
}
