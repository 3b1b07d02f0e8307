// Camera profiles from TOML files: every key optional, anything unknown or mistyped refused by name.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/profile.h"

namespace sim {

// The message names the file and, where there is one, the key: "camera.toml: key 'power.battery' ...".
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The profile the text describes; source names the file in messages.
Profile ParseProfile(std::string_view text, const std::string& source);
Profile LoadProfile(const std::filesystem::path& file);

}  // namespace sim
