// The subcommands of vupdate.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace vupdate {

namespace serve {
struct Options;
}

// Exit codes shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPowerCut = 3;    // vupdate run: the camera's power was cut
constexpr int kExitNotSwept = 4;    // vupdate sweep: the uncut run did not install the update
constexpr int kExitUnexpected = 5;  // vupdate run --expect: the camera ended on another panel

// Each adds its subcommand; the callback stores the exit code in *exitCode.
void AddRunCommand(CLI::App& app, int* exitCode);
void AddPackCommand(CLI::App& app, int* exitCode);
void AddInspectCommand(CLI::App& app, int* exitCode);
void AddSweepCommand(CLI::App& app, int* exitCode);
// What serve does with its options: vupdate-serve runs the HTTP server; vupdate, which does not link it,
// hands the same command line (argv) over to vupdate-serve. Each executable links one definition, and its
// main passes it in, so that the archives need not know which.
int Serve(const serve::Options& options, char** argv);
using ServeRunner = std::function<int(const serve::Options&)>;
void AddServeCommand(CLI::App& app, int* exitCode, ServeRunner run);

}  // namespace vupdate
