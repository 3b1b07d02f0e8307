// vupdate serve's options, read by every executable that offers the command.
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "cli/commands.h"
#include "cli/serve.h"

namespace vupdate {

void AddServeCommand(CLI::App& app, int* exitCode, ServeRunner run) {
  auto options = std::make_shared<serve::Options>();
  CLI::App* cmd = app.add_subcommand("serve", "Hold the simulated camera in a browser");
  cmd->add_option("--camera", options->camera, "Camera profile (TOML) at the first power-on");
  cmd->add_option("--card", options->card, "Card folder, copied unless --in-place");
  cmd->add_flag("--in-place", options->inPlace, "Use the card folder itself, not a copy");
  cmd->add_option("--flash", options->flash, "Flash ROM contents (2 MiB); created when missing");
  cmd->add_option("--port", options->port,
                  "TCP port (0: any free one; one another server listens on is refused)")
      ->capture_default_str();
  cmd->add_option("--bind", options->bind,
                  "Address to listen on; beyond loopback anyone who reaches it drives the camera (a warning)")
      ->capture_default_str();
  cmd->footer(
      "Defaults: without --camera the US sample profile (or the built-in camera), without --card an empty\n"
      "card, without --flash a flash file in the working folder.\n"
      "Exit status: 0 the server stopped (Ctrl-C, SIGTERM or SIGHUP); 2 bad options, or the server\n"
      "could not start (the port taken, vupdate-serve not found).");
  cmd->callback([options, exitCode, run = std::move(run)] {
    options->samples = VESTRA_SAMPLES_DIR;
    std::error_code ec;
    options->vupdate = std::filesystem::read_symlink("/proc/self/exe", ec);
    *exitCode = run(*options);
  });
}

}  // namespace vupdate
