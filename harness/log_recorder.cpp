#include "harness/log_recorder.h"
#include "package/update_set.h"

#include "package/file_set.h"
#include "services/log.h"
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
  if (drivePath != kLogFilePath) return;
  const bool joined = !partial_.empty();
  if (joined) {
    partial_.append(bytes);
    bytes = partial_;
  }
  // The module writes a whole line at a time: it goes straight into the list, without the partial buffer.
  std::size_t from = 0;
  std::size_t end;
  while ((end = bytes.find("\r\n", from)) != std::string_view::npos) {
    lines_.emplace_back(bytes.substr(from, end - from));
    from = end + 2;
  }
  if (joined) {
    partial_.erase(0, from);
  } else {
    partial_.assign(bytes.substr(from));
  }
}

}  // namespace harness
