// A simulated camera over a fresh card folder, current for the test's duration.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <unistd.h>

#include "harness/log_recorder.h"
#include "sim/camera.h"

namespace sim_test {

namespace fs = std::filesystem;

// A folder of its own under the system's temporary folder, named after the test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "vestra-";
    name += info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name() : "test";
    std::replace(name.begin(), name.end(), '/', '_');
    // Several checkouts run the same suites on one machine at once: the process id keeps them apart.
    name += "-" + std::to_string(::getpid());
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline void WriteFile(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

inline std::string ReadFile(const fs::path& file) {
  std::ostringstream s;
  s << std::ifstream(file, std::ios::binary).rdbuf();
  return s.str();
}

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(card_ / "SYSTEM"); }
  void TearDown() override {
    sim::SetCurrent(nullptr);
    log_.reset();
    camera_.reset();
  }

  sim::Camera& Start(sim::Profile profile = {}, const std::string& keys = "") {
    log_.reset();  // the recorder lets go of the old camera before the camera goes
    camera_ = std::make_unique<sim::Camera>(sim::CameraOptions{
        .profile = std::move(profile), .cardDir = card_, .keys = keys, .cardStorage = storage_});
    sim::SetCurrent(camera_.get());
    log_.emplace(*camera_);
    camera_->Boot();
    return *camera_;
  }
  // Every line written to the update log since Start.
  const std::vector<std::string>& LogLines() const { return log_->lines(); }

  TempDir root_;
  fs::path card_ = root_.path() / "card";
  std::shared_ptr<sim::CardStorage> storage_;  // null: the folder card_
  std::unique_ptr<sim::Camera> camera_;
  std::optional<harness::LogRecorder> log_;
};

}  // namespace sim_test
