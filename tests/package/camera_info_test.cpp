// The camera's identity and how versions are shown.
#include "package/camera_info.h"

#include <string>

#include "app/module_state.h"
#include "tests/sim/sim_fixture.h"

namespace {

class CameraInfoTest : public sim_test::CameraTest {};

TEST_F(CameraInfoTest, VersionSuffixFollowsTheLiveRegionThenTheCapability) {
  struct Case {
    std::uint32_t version;
    std::optional<std::uint32_t> region;
    std::optional<std::uint32_t> capability;
    const char* text;
  };
  const Case cases[] = {
      {0x01000000, 1, 1, "1.0"},
      {0x01000000, 8, 3, "1.0J"},  // Japan wins over the capability
      {0x01000000, 8, std::nullopt, "1.0J"},
      {0x01000000, 1, 2, "1.0E"},
      {0x01000000, 1, 4, "1.0E"},
      {0x01000000, 3, 3, "1.0E"},
      {0x01000000, 1, std::nullopt, "1.0"},
      {0x01000000, std::nullopt, 1, "1.0"},  // an unreadable region is not Japan
      {0x01000000, std::nullopt, 2, "1.0E"},
      {0x010A0000, 1, 1, "1.A"},
      {0x02100000, 1, 1, "2.10"},
      {0x0100FFFF, 1, 1, "1.0"},
      {0xFFFF0000, 8, 1, "FF.FFJ"},
  };
  for (const Case& c : cases) {
    sim::Profile profile;
    profile.region = c.region;
    profile.regionCapability = c.capability;
    Start(profile);
    char text[7] = "xxxxxx";
    VersionToString(c.version, text);
    EXPECT_STREQ(text, c.text) << std::hex << c.version;
  }
}

TEST_F(CameraInfoTest, UnreadableParametersReadAsZeroOrEmptyAndNamesStayTerminated) {
  sim::Profile profile;
  profile.product = std::string(40, 'P');
  profile.vendor.reset();
  profile.serial.reset();
  profile.ccs.reset();
  profile.region.reset();
  Start(profile);
  ResetModuleGlobals();
  std::snprintf(gCam.vendorName, sizeof gCam.vendorName, "stale");
  GetCameraInfo();
  EXPECT_EQ(std::string(gCam.vendorName), "");
  EXPECT_EQ(std::string(gCam.productName), std::string(31, 'P'));
  EXPECT_EQ(gCam.serialNumber, 0u);
  EXPECT_EQ(gCam.fwVersion, 0x01000000u);
  EXPECT_EQ(gCam.ccsVersion, 0u);
  EXPECT_EQ(gCam.regionCode, 0u);
  EXPECT_EQ(gCam.installerVersion, 0x01000000u);
  EXPECT_FALSE(InDebugMode());
}

}  // namespace
