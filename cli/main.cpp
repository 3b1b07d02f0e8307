// vupdate: make, check and run update files on the simulated camera.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "updatefile/inspect_file.h"

namespace vupdate {
namespace {

// Edits (insert, delete, replace, swap of neighbours) from one word to the other.
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// The required options a command line left out, all of them: CLI11 names only the first.
std::string MissingOptions(const CLI::App& command) {
  std::string names;
  for (const CLI::Option* option : command.get_options()) {
    if (!option->get_required() || option->count() != 0) continue;
    names += (names.empty() ? "" : ", ") + option->get_name();
  }
  return names;
}

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
  } else if (argc > 1 && argv[1][0] != '-') {
    // A word where the command belongs that is no command: the nearest one, when one is near.
    const std::string_view given = argv[1];
    const auto nearest = std::min_element(
        std::begin(commands), std::end(commands),
        [&](const auto& a, const auto& b) { return Distance(given, a.name) < Distance(given, b.name); });
    std::string names;
    for (const auto& c : commands) names += (names.empty() ? "" : ", ") + std::string(c.name);
    const std::string shown = vupdate::EscapeBytes(given);
    if (Distance(given, nearest->name) <= std::max<std::size_t>(1, nearest->name.size() / 3)) {
      std::fprintf(stderr, "vupdate: unknown command '%s'; did you mean '%s'?\n", shown.c_str(),
                   std::string(nearest->name).c_str());
    } else {
      std::fprintf(stderr, "vupdate: unknown command '%s'; the commands are %s\n", shown.c_str(),
                   names.c_str());
    }
    return kExitUsage;
  } else if (argc == 1) {
    std::fputs("vupdate: a command is required: run, pack, inspect, sweep or serve (see vupdate --help)\n",
               stderr);
    return kExitUsage;
  } else {
    for (const auto& c : commands) c.add();
  }
  // Every message of a command starts with its name, as its own refusals do.
  const std::string who = named != std::end(commands) ? "vupdate " + std::string(named->name) : "vupdate";
  try {
    app.parse(argc, argv);
  } catch (const CLI::RequiredError& e) {
    const CLI::App* command =
        named != std::end(commands) ? app.get_subcommand(std::string(named->name)) : nullptr;
    const std::string missing = command != nullptr ? MissingOptions(*command) : "";
    if (missing.empty()) {
      std::fprintf(stderr, "%s: %s\n", who.c_str(), vupdate::EscapeBytes(e.what()).c_str());
    } else {
      std::fprintf(stderr, "%s: required, but not given: %s (see %s --help)\n", who.c_str(), missing.c_str(),
                   who.c_str());
    }
    return kExitUsage;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    // One line, like every other refusal; --help tells the rest.
    std::fprintf(stderr, "%s: %s\n", who.c_str(), vupdate::EscapeBytes(e.what()).c_str());
    return kExitUsage;
  }
  return exitCode;
}

}  // namespace
}  // namespace vupdate

int main(int argc, char** argv) {
  vupdate::interrupt::Start();
  // Whatever a command did not expect still ends with a message and a failure, never an abort.
  try {
    return vupdate::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vupdate: %s\n", vupdate::EscapeBytes(e.what()).c_str());
  } catch (...) {
    std::fputs("vupdate: unexpected failure\n", stderr);
  }
  return vupdate::kExitFailed;
}
