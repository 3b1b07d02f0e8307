// vupdate serve's inspect: vupdate inspect in a process of its own, since the module it runs is the one the
// live camera is using in this process.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vupdate::serve {

// Runs a program with its standard output and error captured, up to max bytes, with no signal blocked (the
// server blocks its stop signals for its own waiter) and none of the server's descriptors but the pipe.
// It runs in the folder cwd; its process id is in *running while it runs.
std::string RunCapturing(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                         std::size_t max, std::atomic<pid_t>* running);

}  // namespace vupdate::serve
