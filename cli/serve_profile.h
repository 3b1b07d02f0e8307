// The camera profile of vupdate serve: the text the next power-on reads, its name, and the edits the page
// makes to it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "harness/live_camera.h"

namespace vupdate::serve {

// A text file of at most max bytes; throws std::runtime_error naming the problem.
std::string ReadTextFile(const std::filesystem::path& path, std::size_t max);

class ProfileSlot {
 public:
  ProfileSlot(harness::LiveCamera& camera, std::string name, std::string text);

  std::pair<std::string, std::string> NameAndText() const;
  // Each answers an empty string, or why the profile stays as it was.
  // Replaces the profile for the next power-on once the text reads as a profile.
  std::string Use(const std::string& name, const std::string& text);
  // Sets region, serial and battery (a battery state also unplugs the external power) from the fields given.
  std::string Edit(const std::multimap<std::string, std::string>& fields);

 private:
  harness::LiveCamera& camera_;
  mutable std::mutex mutex_;
  std::string name_;
  std::string text_;
};

}  // namespace vupdate::serve
