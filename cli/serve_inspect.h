// vupdate serve's inspect: vupdate inspect in a process of its own, since the module it runs is the one the
// live camera is using in this process.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace serve {

// Runs a program with its standard output and error captured, up to max bytes, with no signal blocked (the
// server blocks its stop signals for its own waiter) and none of the server's descriptors but the pipe.
std::string RunCapturing(const std::vector<std::string>& argv, std::size_t max);

}  // namespace serve
