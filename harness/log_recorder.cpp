#include "harness/log_recorder.h"

#include "package/file_set.h"
#include "sim/card.h"

namespace harness {

LogRecorder::LogRecorder(sim::Camera& camera) : camera_(camera) {
  camera_.card().SetWriteObserver(
      [this](std::string_view drivePath, std::string_view bytes) { Written(drivePath, bytes); });
}

LogRecorder::~LogRecorder() {
  camera_.card().SetWriteObserver(nullptr);
}

void LogRecorder::Written(std::string_view drivePath, std::string_view bytes) {
  if (drivePath != kLogFileName) return;
  partial_.append(bytes);
  std::size_t end;
  while ((end = partial_.find("\r\n")) != std::string::npos) {
    lines_.push_back(partial_.substr(0, end));
    partial_.erase(0, end + 2);
  }
}

}  // namespace harness
