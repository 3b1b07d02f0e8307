// A simulated camera started as far as the power warning, with a verified code file on its card, ready for
// the installation run.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/module_state.h"
#include "app/panel.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "platform/bytes.h"
#include "platform/graphics.h"
#include "platform/kernel.h"
#include "sim/camera.h"
#include "sim/card.h"
#include "sim/flash.h"
#include "sim/graphics.h"
#include "sim/kernel.h"

namespace vestra_test {

// An image whose bytes are easy to tell apart from the old firmware and from blank flash.
inline std::vector<std::uint8_t> TestImage(std::uint32_t length, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> image(length);
  for (std::uint32_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + seed) ^ (i >> 9));
  return image;
}

inline std::uint32_t ByteSum(const std::vector<std::uint8_t>& bytes, std::size_t from = 0,
                             std::size_t to = std::string::npos) {
  std::uint32_t sum = 0;
  for (std::size_t i = from; i < bytes.size() && i < to; ++i) sum += bytes[i];
  return sum;
}

// A code file that the default camera profile accepts: header, image and the whole trailer.
inline std::vector<std::uint8_t> CodeFile(const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> file;
  file.reserve(64 + image.size() + 160);
  file.resize(64);
  const auto length = static_cast<std::uint32_t>(image.size());
  vestra::StoreBE32(&file[0], 0x434F4445);
  vestra::StoreBE32(&file[4], 64);
  vestra::StoreBE32(&file[8], 64 + length);
  vestra::StoreBE32(&file[12], ByteSum(image));
  vestra::StoreBE32(&file[16], 0);
  vestra::StoreBE32(&file[20], length - 1);
  file.insert(file.end(), image.begin(), image.end());
  const auto tag = [&file](const char* name) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(name[i]));
  };
  const auto word = [&](const char* name, std::uint32_t value) {
    tag(name);
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<std::uint8_t>(value >> shift));
  };
  const auto text = [&](const char* name, const std::string& value) {
    tag(name);
    for (std::size_t i = 0; i < 32; ++i)
      file.push_back(i < value.size() ? static_cast<std::uint8_t>(value[i]) : 0);
  };
  word("fwrv", 0x01100000);
  word("ccsv", 0x01000000);
  word("rgnc", 1);
  word("INSV", 0x01000000);
  text("vdid", "Norvale Co., Ltd.");
  text("ptid", "Calyte QR");
  word("SNMN", 0);
  word("SNMX", 0xFFFFFFFF);
  word("DONE", ByteSum(file) + 'D' + 'O' + 'N' + 'E');
  return file;
}

struct InstallOptions {
  sim::FlashProfile flash;
  std::uint32_t cameraRegion = 1;
  std::uint32_t fileRegion = 1;
  const char* debugText = "";  // not empty: the camera is in debug mode
  bool blankFlash = false;
};

class InstallTest : public ::testing::Test {
 protected:
  void TearDown() override {
    sim::SetCurrent(nullptr);
    camera_.reset();
    if (!card_.empty()) std::filesystem::remove_all(card_);
  }

  static constexpr const char* kCodeName = "QR40TEST.BIN";

  // Puts the update files on a fresh card and starts the camera as far as the power warning panel.
  void Start(const std::vector<std::uint8_t>& image, InstallOptions options = {}) {
    image_ = image;
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    card_ = std::filesystem::temp_directory_path() / ("vestra_install_" + name + std::to_string(::rand()));
    std::filesystem::remove_all(card_);
    std::filesystem::create_directories(card_ / "SYSTEM");
    WriteCardFile("UPDATE.CAM", {1, 2, 3});
    WriteCardFile("UPDATE.CRS", {4, 5, 6});
    WriteCardFile(kCodeName, CodeFile(image));

    sim::CameraOptions cameraOptions;
    cameraOptions.profile.region = options.cameraRegion;
    cameraOptions.profile.flash = options.flash;
    cameraOptions.cardDir = card_;
    camera_ = std::make_unique<sim::Camera>(cameraOptions);
    sim::SetCurrent(camera_.get());
    ResetModuleGlobals();
    if (options.blankFlash) {
      const std::vector<std::uint8_t> blank(sim::kFlashBusSize, 0xFF);
      flash().Preload(0, blank);
    }

    vestra::GMInitGraf(0);
    vestra::GMInitFonts();
    vestra::Rect bounds;
    vestra::GMSetRect(&bounds, 0, 0, 288, 216);
    vestra::GMNewGWorld(&gDrawPort, 32, &bounds, 0, 0, 0);
    vestra::GMSetRect(&bounds, 0, 0, 360, 287);
    vestra::GMNewGWorld(&gLCDPort1, 16, &bounds, 0, 0, 0);
    vestra::GMNewGWorld(&gLCDPort2, 16, &bounds, 0, 0, 0);
    gLCDPort = gLCDPort1;
    vestra::GMSetPort(gDrawPort);
    vestra::GMPenSize(1, 1);
    semIdDelete = vestra::semBCreate(0, 1);
    GetCameraInfo();
    std::snprintf(gCam.debugText, sizeof gCam.debugText, "%s", options.debugText);
    AppInit();
    ASSERT_EQ(GetInstallerFilenames(), 0);
    // What verification leaves in the code file's record.
    gFile[0].header.fileType = 0x434F4445;
    gFile[0].header.headerSize = 64;
    gFile[0].header.trailerOffset = 64 + static_cast<std::uint32_t>(image.size());
    gFile[0].header.imageChecksum = ByteSum(image);
    gFile[0].regionCode = options.fileRegion;
    AppSwapPanels(gCurPanel, 3);
  }

  void WriteCardFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(card_ / "SYSTEM" / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  bool OnCard(const std::string& name) const { return std::filesystem::exists(card_ / "SYSTEM" / name); }

  // The "Update" key's work: the progress panel becomes current and runs the installation.
  void RunInstallation() { AppSwapPanels(gCurPanel, 4); }

  sim::FlashBus& flash() { return camera_->flash(); }
  const std::vector<std::string>& LogLines() { return camera_->card().LogLines(); }
  bool FlashHoldsImage() {
    auto contents = flash().contents();
    return std::equal(image_.begin(), image_.end(), contents.begin());
  }

  std::unique_ptr<sim::Camera> camera_;
  std::filesystem::path card_;
  std::vector<std::uint8_t> image_;
};

}  // namespace vestra_test
