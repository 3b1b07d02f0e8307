// A card holding an update file, and a camera that starts the updater on it and waits for a key.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "../sim/sim_fixture.h"
#include "harness/runner.h"
#include "package/tags.h"
#include "services/sound.h"
#include "updatefile/update_file.h"

namespace verify_test {

namespace fs = std::filesystem;
using Change = std::function<void(vupdate::FileLayout&)>;

// A file that fits the default simulated camera (serial 0x1234, firmware and CCS 0x01000000,
// region 1, capability 1): 300 image bytes counting up from 0, whose sum is 0x8332.
inline vupdate::FileLayout FittingLayout() {
  vupdate::UpdateMetadata meta{0x01000000,          0x01000000,  1,      0x01000000,
                               "Norvale Co., Ltd.", "Calyte QR", 0x1000, 0x2000};
  std::vector<std::uint8_t> image(300);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
  return vupdate::LayoutFor(std::move(image), meta);
}

// Puts these items in place of those of the same tags, after the others.
inline Change With(std::vector<vupdate::TrailerItem> items) {
  return [items](vupdate::FileLayout& layout) {
    for (const auto& item : items) {
      std::erase_if(layout.items, [&](const auto& old) { return old.tag == item.tag; });
      layout.items.push_back(item);
    }
  };
}
inline Change With(std::uint32_t tag, std::uint32_t value) {
  return With({vupdate::NumberItem(tag, value)});
}

// The file's side of the eight comparison lines, as logged; by default what the fitting file states.
struct FileSide {
  std::string fw = "1000000", ccs = "1000000", region = "1", installer = "1000000", serialMin = "1000",
              serialMax = "2000", vendor = "Norvale Co., Ltd.", product = "Calyte QR";
};
inline constexpr const char* kMisfit = "Camera incompible with files.";
inline const FileSide kNothingRead{"0", "0", "0", "0", "0", "0", "", ""};

// The comparison lines against the default camera.
inline std::vector<std::string> Comparison(const FileSide& f) {
  return {
      "Firmware version:      1000000(cam)  " + f.fw + "(file)",
      "CCS version:           1000000(cam)  " + f.ccs + "(file)",
      "Region code:           1(cam)  " + f.region + "(file)",
      "Installer version:     1000000(cam)  " + f.installer + "(file)",
      "Minimum serial number: 1234(cam)  " + f.serialMin + "(file)",
      "Maximum serial number: 1234(cam)  " + f.serialMax + "(file)",
      "Vendor name:           'Norvale Co., Ltd.'(cam)  '" + f.vendor + "'(file)",
      "Product name:          'Calyte QR'(cam)  '" + f.product + "'(file)",
  };
}

// A table row's name as its test's name.
inline const auto RowName = [](const auto& info) { return std::string(info.param.name); };

// The tables' rows live in their files' unnamed namespace, where GoogleTest looks for a printer: a row
// prints as its name, in failure messages and in CTest's list of tests, rather than as its bytes.
namespace {
template <typename Row>
concept NamedRow = requires(const Row& row) {
  std::string_view(row.name);
};
template <NamedRow Row>
void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}
}  // namespace

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(system_);
    sim_test::WriteFile(system_ / "UPDATE.CAM", "cam");
    sim_test::WriteFile(system_ / "UPDATE.CRS", "crs");
  }

  // Puts the file on the card and runs the updater until it waits for a key.
  harness::RunResult Run(const std::vector<std::uint8_t>& file, sim::Profile profile = {}) {
    sim_test::WriteFile(system_ / "QR40000.BIN", std::string(file.begin(), file.end()));
    return Run(std::move(profile));
  }
  harness::RunResult Run(sim::Profile profile = {}) {
    profile.power.external = true;
    sim::Camera camera(sim::CameraOptions{std::move(profile), dir_.path() / "card", {}, ""});
    return harness::RunModule(camera);
  }

  std::vector<std::string> CardFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(system_)) names.push_back(e.path().filename().string());
    std::ranges::sort(names);
    return names;
  }

  sim_test::TempDir dir_;
  fs::path system_ = dir_.path() / "card" / "SYSTEM";
};

// Accepted: the intro sound on panel 0. Refused: the error panel 8 and the alert, waited for.
inline void ExpectEnd(const harness::RunResult& run, int errCode) {
  EXPECT_TRUE(run.ended()) << run.error;
  EXPECT_EQ(run.errCode, errCode);
  EXPECT_EQ(run.finalPanel, errCode == 0 ? 0 : 8);
  EXPECT_EQ(run.openFiles, 0);
  ASSERT_FALSE(run.sounds.empty());
  EXPECT_EQ(run.sounds.back().id, errCode == 0 ? kUIIntroSnd : kUIAlertSnd);
  EXPECT_EQ(run.sounds.back().wait, errCode != 0);
}

}  // namespace verify_test
