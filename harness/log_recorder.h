// The update log as the camera writes it: every complete line of a run, also when the file is deleted later.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/camera.h"

namespace harness {

// Watches the camera's card for writes to the module's log file while it lives; one per camera at a time.
class LogRecorder {
 public:
  explicit LogRecorder(sim::Camera& camera);
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  void Written(std::string_view drivePath, std::string_view bytes);

  sim::Camera& camera_;
  std::vector<std::string> lines_;
  std::string partial_;  // a line whose CR LF has not been written yet
};

}  // namespace harness
