// The parameter store as the module reads it: records of big-endian bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/params.h"
#include "sim_fixture.h"

namespace {

class ParamsTest : public sim_test::CameraTest {};

TEST_F(ParamsTest, NumbersAreBigEndianAtByteEightAndTheCapabilityWordAtForty) {
  sim::Profile p;
  p.serial = 0x00001234;
  p.firmware = 0x01020304;
  p.ccs = 0xA0B0C0D0;
  p.region = 8;
  p.regionCapability = 0x00000304;
  Start(p);
  vestra::PARMValueRecord r;
  const auto at8 = [&r] { return std::vector<std::uint8_t>(r.bytes + 8, r.bytes + 12); };
  const std::pair<const char*, std::vector<std::uint8_t>> numbers[] = {{"sern", {0x00, 0x00, 0x12, 0x34}},
                                                                       {"fwrv", {0x01, 0x02, 0x03, 0x04}},
                                                                       {"ccsv", {0xA0, 0xB0, 0xC0, 0xD0}}};
  for (const auto& [name, value] : numbers) {
    ASSERT_EQ(vestra::PARMGetProductInfo(name, &r), 0) << name;
    EXPECT_EQ(at8(), value) << name;
  }
  EXPECT_NE(vestra::PARMGetProductInfo("what", &r), 0);

  ASSERT_EQ(vestra::PARMGetCurrentSetting("rgnc", &r), 0);
  EXPECT_EQ(at8(), (std::vector<std::uint8_t>{0, 0, 0, 8}));
  EXPECT_NE(vestra::PARMGetCurrentSetting("fwrv", &r), 0);
  const std::uint8_t* cap = nullptr;
  std::uint32_t second = 0;
  ASSERT_EQ(vestra::PARMGetCapability("rgnc", &cap, &second), 0);
  ASSERT_NE(cap, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(cap + 40, cap + 44), (std::vector<std::uint8_t>{0, 0, 3, 4}));
  EXPECT_NE(vestra::PARMGetCapability("sern", &cap, &second), 0);
}

}  // namespace
