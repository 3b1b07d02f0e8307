// vupdate: make, check and run update files on the simulated camera.
#include <iostream>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "updatefile/inspect_file.h"

int main(int argc, char** argv) {
  interrupt::Start();
  CLI::App app{"vupdate: pack, inspect and run Vestra update files on a simulated camera"};
  app.require_subcommand(1);
  int exitCode = kExitOk;
  AddRunCommand(app, &exitCode);
  AddPackCommand(app, &exitCode);
  AddInspectCommand(app, &exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    // One line, like every other refusal; --help tells the rest.
    std::cerr << "vupdate: " << vupdate::EscapeBytes(e.what()) << "\n";
    return kExitUsage;
  }
  return exitCode;
}
