// The subcommands of vupdate.
#pragma once

#include <CLI/CLI.hpp>

// Exit codes shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPowerCut = 3;  // vupdate run: the camera's power was cut

// Each adds its subcommand; the callback stores the exit code in *exitCode.
void AddRunCommand(CLI::App& app, int* exitCode);
void AddPackCommand(CLI::App& app, int* exitCode);
void AddInspectCommand(CLI::App& app, int* exitCode);
void AddSweepCommand(CLI::App& app, int* exitCode);
void AddServeCommand(CLI::App& app, int* exitCode);
