// A simulated camera started as far as the power warning, with a verified code file on its card, ready for
// the installation run.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

#include "app/entry.h"
#include "app/module_state.h"
#include "app/panel.h"
#include "harness/log_recorder.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "sim/camera.h"
#include "sim/card.h"
#include "sim/flash.h"
#include "sim/memory.h"
#include "tests/app/run_fixture.h"

namespace vestra_test {

// An image whose bytes are easy to tell apart from the old firmware and from blank flash.
inline std::vector<std::uint8_t> TestImage(std::uint32_t length, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> image(length);
  for (std::uint32_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + seed) ^ (i >> 9));
  return image;
}

// A code file that the default camera profile accepts.
inline std::vector<std::uint8_t> CodeFile(const std::vector<std::uint8_t>& image) {
  return vupdate::BuildUpdateFile(vupdate::LayoutFor(image, GoodMetadata()));
}

struct InstallOptions {
  sim::FlashProfile flash;
  std::uint32_t fileRegion = 1;
  const char* debugText = "";  // not empty: the camera is in debug mode
  bool blankFlash = false;
  bool resourcesCopied = true;  // false: no memory for the resource block's copy at start-up
};

class InstallTest : public ::testing::Test {
 protected:
  void TearDown() override {
    sim::SetCurrent(nullptr);
    log_.reset();
    camera_.reset();
  }

  static constexpr const char* kCodeName = "QR40TEST.BIN";

  // Puts the update files on a fresh card and starts the camera as far as the power warning panel.
  void Start(const std::vector<std::uint8_t>& image, InstallOptions options = {}) {
    TearDown();
    std::filesystem::remove_all(card_);
    WriteCardFile("UPDATE.CAM", {1, 2, 3});
    WriteCardFile("UPDATE.CRS", {4, 5, 6});
    WriteCardFile(kCodeName, CodeFile(image));
    camera_ = std::make_unique<sim::Camera>(
        sim::CameraOptions{.profile = {.flash = options.flash}, .cardDir = card_});
    sim::SetCurrent(camera_.get());
    log_.emplace(*camera_);
    ResetModuleGlobals();
    camera_->Boot();
    camera_->memory().failMalloc = !options.resourcesCopied;
    if (options.blankFlash) flash().Preload(0, std::vector<std::uint8_t>(sim::kFlashBusSize, 0xFF));
    ASSERT_THROW(entry(), sim::ScriptEnded);  // start-up verifies the update files and waits for keys
    ASSERT_EQ(gCurPanel, 0);
    std::snprintf(gCam.debugText, sizeof gCam.debugText, "%s", options.debugText);
    gFile[0].regionCode = options.fileRegion;
    AppSwapPanels(gCurPanel, kPowerWarningPanel);
  }

  void WriteCardFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    sim_test::WriteFile(card_ / "SYSTEM" / name, std::string(bytes.begin(), bytes.end()));
  }
  bool OnCard(const std::string& name) const { return std::filesystem::exists(card_ / "SYSTEM" / name); }

  // The "Update" key's work: the progress panel becomes current and runs the installation.
  void RunInstallation() { AppSwapPanels(gCurPanel, kProgressPanel); }

  sim::FlashBus& flash() { return camera_->flash(); }
  const std::vector<std::string>& LogLines() { return log_->lines(); }

  sim_test::TempDir dir_;
  std::filesystem::path card_ = dir_.path() / "card";
  std::unique_ptr<sim::Camera> camera_;
  std::optional<harness::LogRecorder> log_;
};

}  // namespace vestra_test
