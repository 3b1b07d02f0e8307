// vupdate: make, check and run update files on the simulated camera.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "updatefile/inspect_file.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"vupdate: pack, inspect and run Vestra update files on a simulated camera"};
  app.set_version_flag("--version", std::string("vupdate ") + VESTRA_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Each command's --help lists its exit codes. Texts from files or the camera: bytes that are not "
      "printable UTF-8, and a backslash, are shown as \\xHH.");
  int exitCode = kExitOk;
  const auto serve = [argv](const serve::Options& options) { return Serve(options, argv); };
  const struct {
    std::string_view name;
    std::function<void()> add;
  } commands[] = {
      {"run", [&] { AddRunCommand(app, &exitCode); }},
      {"pack", [&] { AddPackCommand(app, &exitCode); }},
      {"inspect", [&] { AddInspectCommand(app, &exitCode); }},
      {"sweep", [&] { AddSweepCommand(app, &exitCode); }},
      {"serve", [&] { AddServeCommand(app, &exitCode, serve); }},
  };
  // A command named first is the only one set up (building every command's options is a good part of a
  // short command's start); anything else, --help among it, gets them all.
  const auto named = std::find_if(std::begin(commands), std::end(commands),
                                  [&](const auto& c) { return argc > 1 && c.name == argv[1]; });
  if (named != std::end(commands)) {
    named->add();
  } else {
    for (const auto& c : commands) c.add();
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    // One line, like every other refusal; --help tells the rest.
    std::fprintf(stderr, "vupdate: %s\n", vupdate::EscapeBytes(e.what()).c_str());
    return kExitUsage;
  }
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  interrupt::Start();
  // Whatever a command did not expect still ends with a message and a failure, never an abort.
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vupdate: %s\n", vupdate::EscapeBytes(e.what()).c_str());
  } catch (...) {
    std::fputs("vupdate: unexpected failure\n", stderr);
  }
  return kExitFailed;
}
