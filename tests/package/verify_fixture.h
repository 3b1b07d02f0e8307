// A card holding an update file, and a camera that starts the updater on it and waits for a key.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "../sim/sim_fixture.h"
#include "cli/update_file.h"
#include "package/camera_info.h"
#include "services/sound.h"
#include "sim/runner.h"

namespace verify_test {

namespace fs = std::filesystem;

// What the camera is given by default: a file that fits the default simulated camera
// (serial 0x1234, firmware and CCS 0x01000000, region 1, capability 1).
inline vupdate::UpdateMetadata FittingMetadata() {
  vupdate::UpdateMetadata meta;
  meta.firmware = 0x01000000;
  meta.ccs = 0x01000000;
  meta.region = 1;
  meta.installer = 0x01000000;
  meta.vendor = "Norvale Co., Ltd.";
  meta.product = "Calyte QR";
  meta.serialMin = 0x1000;
  meta.serialMax = 0x2000;
  return meta;
}

// 300 bytes counting up from 0: their sum is 0x8332.
inline std::vector<std::uint8_t> SmallImage() {
  std::vector<std::uint8_t> image(300);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
  return image;
}

inline vupdate::FileLayout FittingLayout() {
  return vupdate::LayoutFor(SmallImage(), FittingMetadata());
}

// The file's side of the eight comparison lines.
struct FileSide {
  std::uint32_t fw = 0, ccs = 0, region = 0, installer = 0, serialMin = 0, serialMax = 0;
  std::string vendor, product;
};

inline FileSide FittingSide() {
  return {0x01000000, 0x01000000, 1, 0x01000000, 0x1000, 0x2000, "Norvale Co., Ltd.", "Calyte QR"};
}

// The comparison lines against the default camera.
inline std::vector<std::string> Comparison(const FileSide& f) {
  const auto line = [](const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return std::string(text);
  };
  return {
      line("Firmware version:      1000000(cam)  %x(file)", f.fw),
      line("CCS version:           1000000(cam)  %x(file)", f.ccs),
      line("Region code:           1(cam)  %x(file)", f.region),
      line("Installer version:     1000000(cam)  %x(file)", f.installer),
      line("Minimum serial number: 1234(cam)  %x(file)", f.serialMin),
      line("Maximum serial number: 1234(cam)  %x(file)", f.serialMax),
      line("Vendor name:           'Norvale Co., Ltd.'(cam)  '%s'(file)", f.vendor.c_str()),
      line("Product name:          'Calyte QR'(cam)  '%s'(file)", f.product.c_str()),
  };
}

inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A table row's name as a test name.
struct RowName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    std::string name = info.param.name;
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
  }
};

// Failure messages name the row rather than dump its bytes.
template <typename Row>
requires requires(const Row& row) {
  std::string(row.name);
}
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

inline std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system_ = dir_.path() / "card" / "SYSTEM";
    fs::create_directories(system_);
    sim_test::WriteFile(system_ / "UPDATE.CAM", "cam");
    sim_test::WriteFile(system_ / "UPDATE.CRS", "crs");
  }

  void PutCodeFile(const std::vector<std::uint8_t>& bytes, const std::string& name = "QR40000.BIN") {
    sim_test::WriteFile(system_ / name, std::string(bytes.begin(), bytes.end()));
  }

  // Runs the updater until it waits for a key.
  sim::RunResult Run(sim::Profile profile = {}) {
    profile.power.external = true;
    sim::Camera camera(sim::CameraOptions{std::move(profile), dir_.path() / "card", {}, ""});
    return sim::RunModule(camera);
  }

  sim::RunResult RunWith(const vupdate::FileLayout& layout, sim::Profile profile = {}) {
    PutCodeFile(vupdate::BuildUpdateFile(layout));
    return Run(std::move(profile));
  }

  std::vector<std::string> CardFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(system_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  sim_test::TempDir dir_;
  fs::path system_;
};

inline void ExpectAccepted(const sim::RunResult& run) {
  EXPECT_TRUE(run.ended()) << run.error;
  EXPECT_EQ(run.errCode, 0);
  EXPECT_EQ(run.finalPanel, 0);
  EXPECT_TRUE(run.logLines.empty()) << run.logLines.front();
  ASSERT_FALSE(run.sounds.empty());
  EXPECT_EQ(run.sounds.back().id, kUIIntroSnd);
}

inline void ExpectRefused(const sim::RunResult& run, int errCode) {
  EXPECT_TRUE(run.ended()) << run.error;
  EXPECT_EQ(run.errCode, errCode);
  EXPECT_EQ(run.finalPanel, 8);
  ASSERT_FALSE(run.sounds.empty());
  EXPECT_EQ(run.sounds.back().id, kUIAlertSnd);
  EXPECT_TRUE(run.sounds.back().wait);
  EXPECT_EQ(run.openFiles, 0);
}

}  // namespace verify_test
