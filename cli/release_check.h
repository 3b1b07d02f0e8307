// What a release engineer expects of each camera in the release check: "camera-us=accepted",
// "*=refused", given with --expect or one a line in an --expect-file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/paths.h"

namespace vupdate::release {

// The words of the release check, as inspect gives them.
inline constexpr std::string_view kVerdicts[] = {"accepted", "refused", "fails", "stopped"};

struct Expectation {
  std::string name;     // a profile's file name, with or without ".toml", its path as given, or "*"
  std::string verdict;  // one of kVerdicts
  std::string from;     // where it was said, for messages: "--expect" or "FILE:LINE"
};

// One "NAME=VERDICT".
paths::Problem Parse(std::string_view text, const std::string& from, std::vector<Expectation>* out);
// A file of them, one a line; blank lines and lines starting with '#' say nothing.
paths::Problem ReadFile(const std::string& path, std::vector<Expectation>* out);

// The verdict expected of each profile, in the profiles' order. Every profile must be named or fall under
// "*", and every name must match a profile: a name that matches none is a typo that would hide a camera.
paths::Problem Assign(const std::vector<std::string>& profiles, const std::vector<Expectation>& expectations,
                      std::vector<std::string>* expected);

}  // namespace vupdate::release
