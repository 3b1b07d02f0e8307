// The parameter store as the module reads it: records of big-endian bytes, failing where the profile is
// silent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/params.h"
#include "sim_fixture.h"

namespace {

using sim_test::CameraTest;

class ParamsTest : public CameraTest {};

std::vector<std::uint8_t> Bytes(const vestra::PARMValueRecord& r, std::size_t from, std::size_t count) {
  return {r.bytes + from, r.bytes + from + count};
}

TEST_F(ParamsTest, ProductInfoNumbersAreBigEndianAtByteEightAndTextsTerminated) {
  sim::Profile p;
  p.vendor = "Norvale Co., Ltd.";
  p.product = std::string(31, 'P');
  p.serial = 0x00001234;
  p.firmware = 0x01020304;
  p.ccs = 0xA0B0C0D0;
  Start(p);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> value;  // bytes 8..11
  };
  const Case numbers[] = {
      {"sern", {0x00, 0x00, 0x12, 0x34}},
      {"fwrv", {0x01, 0x02, 0x03, 0x04}},
      {"ccsv", {0xA0, 0xB0, 0xC0, 0xD0}},
  };
  for (const auto& c : numbers) {
    SCOPED_TRACE(c.name);
    vestra::PARMValueRecord r;
    ASSERT_EQ(vestra::PARMGetProductInfo(c.name, &r), 0);
    EXPECT_EQ(Bytes(r, 8, 4), c.value);
  }
  vestra::PARMValueRecord r;
  std::memset(r.bytes, 0xEE, sizeof r.bytes);
  ASSERT_EQ(vestra::PARMGetProductInfo("vdid", &r), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(r.bytes + 8), "Norvale Co., Ltd.");
  std::memset(r.bytes, 0xEE, sizeof r.bytes);
  ASSERT_EQ(vestra::PARMGetProductInfo("ptid", &r), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.bytes + 8)), std::string(31, 'P'));
  EXPECT_EQ(r.bytes[39], 0);
  EXPECT_NE(vestra::PARMGetProductInfo("what", &r), 0);
}

TEST_F(ParamsTest, AbsentParametersFailToRead) {
  sim::Profile p;
  p.vendor.reset();
  p.product.reset();
  p.serial.reset();
  p.firmware.reset();
  p.ccs.reset();
  p.region.reset();
  p.regionCapability.reset();
  Start(p);
  vestra::PARMValueRecord r;
  for (const char* name : {"vdid", "ptid", "sern", "fwrv", "ccsv"}) {
    EXPECT_NE(vestra::PARMGetProductInfo(name, &r), 0) << name;
  }
  EXPECT_NE(vestra::PARMGetCurrentSetting("rgnc", &r), 0);
  const std::uint8_t* cap = nullptr;
  std::uint32_t second = 0;
  EXPECT_NE(vestra::PARMGetCapability("rgnc", &cap, &second), 0);
}

TEST_F(ParamsTest, RegionSettingAndCapabilityWordAtOffsetForty) {
  sim::Profile p;
  p.region = 8;
  p.regionCapability = 0x00000304;
  Start(p);
  vestra::PARMValueRecord r;
  ASSERT_EQ(vestra::PARMGetCurrentSetting("rgnc", &r), 0);
  EXPECT_EQ(Bytes(r, 8, 4), (std::vector<std::uint8_t>{0, 0, 0, 8}));
  EXPECT_NE(vestra::PARMGetCurrentSetting("fwrv", &r), 0);
  const std::uint8_t* cap = nullptr;
  std::uint32_t second = 0;
  ASSERT_EQ(vestra::PARMGetCapability("rgnc", &cap, &second), 0);
  ASSERT_NE(cap, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(cap + 40, cap + 44), (std::vector<std::uint8_t>{0, 0, 3, 4}));
  EXPECT_NE(vestra::PARMGetCapability("sern", &cap, &second), 0);
}

TEST_F(ParamsTest, RegionReachesTheEepromOnlyWhenFlushed) {
  Start();
  const std::uint32_t region = 3;
  ASSERT_EQ(vestra::PRAMSetKeyedParameter(0x72676E63, &region), 0);
  EXPECT_FALSE(camera_->eepromRegion.has_value());
  ASSERT_EQ(vestra::pramFlushToEEPROM(), 0);
  EXPECT_EQ(camera_->eepromRegion, 3u);
  EXPECT_NE(vestra::PRAMSetKeyedParameter(0x73657260, &region), 0);

  camera_->failEepromFlush = true;
  const std::uint32_t other = 8;
  ASSERT_EQ(vestra::PRAMSetKeyedParameter(0x72676E63, &other), 0);
  EXPECT_NE(vestra::pramFlushToEEPROM(), 0);
  EXPECT_EQ(camera_->eepromRegion, 3u);
  camera_->failParameterWrite = true;
  EXPECT_NE(vestra::PRAMSetKeyedParameter(0x72676E63, &other), 0);
}

}  // namespace
