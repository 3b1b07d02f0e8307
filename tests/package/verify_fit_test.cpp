// Which cameras a well-formed file fits: region rows, versions, serial range, debug files.
#include <optional>

#include "package/camera_info.h"
#include "package/tags.h"
#include "verify_fixture.h"

namespace verify_test {
namespace {

using verify_test::PrintTo;

void SetItem(vupdate::FileLayout& layout, vupdate::TrailerItem item) {
  for (auto& existing : layout.items) {
    if (existing.tag == item.tag) {
      existing = std::move(item);
      return;
    }
  }
  layout.items.push_back(std::move(item));
}

void DropItem(vupdate::FileLayout& layout, std::uint32_t tag) {
  std::erase_if(layout.items, [tag](const auto& item) { return item.tag == tag; });
}

struct RegionCase {
  const char* name;
  std::uint32_t cameraRegion;
  std::optional<std::uint32_t> capability;  // nullopt: the query fails
  std::uint32_t fileRegion;
  const char* refusal;  // null: accepted
};

const RegionCase kRegionCases[] = {
    {"development takes region 6", 1, 4, 6, nullptr},
    {"development before Japanese", 8, 4, 6, nullptr},
    {"development refuses its own region", 1, 4, 1, "camera is development and file is not"},
    {"development refuses Japanese files", 8, 4, 8, "camera is development and file is not"},
    {"Japanese takes region 8", 8, 1, 8, nullptr},
    {"Japanese before European", 8, 3, 3, "camera is Japanese and file is not"},
    {"Japanese European camera takes 8", 8, 3, 8, nullptr},
    {"European takes region 3", 1, 3, 3, nullptr},
    {"European refuses its own setting", 1, 3, 1, "camera is European and file is not"},
    {"failed query leaves equality", 3, std::nullopt, 3, nullptr},
    {"failed query is never European", 1, std::nullopt, 3, "camera is US and file is not"},
    {"failed query still Japanese", 8, std::nullopt, 1, "camera is Japanese and file is not"},
    {"US takes its own region", 2, 1, 2, nullptr},
    {"US refuses region 6", 2, 1, 6, "camera is US and file is not"},
    {"capability 2 is US", 5, 2, 5, nullptr},
};

class Regions : public VerifyTest, public ::testing::WithParamInterface<RegionCase> {};

TEST_P(Regions, FirstRowThatRecognisesTheCameraDecides) {
  const RegionCase& row = GetParam();
  vupdate::FileLayout layout = FittingLayout();
  SetItem(layout, vupdate::NumberItem(kTagRegion, row.fileRegion));
  sim::Profile profile;
  profile.region = row.cameraRegion;
  profile.regionCapability = row.capability;

  const sim::RunResult run = RunWith(layout, profile);

  if (row.refusal == nullptr) {
    ExpectAccepted(run);
  } else {
    ExpectRefused(run, -1);
    ASSERT_EQ(run.logLines.size(), 9u);
    EXPECT_EQ(run.logLines[0], row.refusal);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Regions, ::testing::ValuesIn(kRegionCases), RowName());

struct FitCase {
  const char* name;
  std::uint32_t serial;
  std::function<void(vupdate::FileLayout&)> change;
  bool accepted;
};

const FitCase kFitCases[] = {
    {"serial equal to the minimum", 0x1234,
     [](auto& l) { SetItem(l, vupdate::NumberItem(kTagSerialMin, 0x1234)); }, true},
    {"serial equal to the maximum", 0x1234,
     [](auto& l) { SetItem(l, vupdate::NumberItem(kTagSerialMax, 0x1234)); }, true},
    {"serial one below the minimum", 0x1234,
     [](auto& l) { SetItem(l, vupdate::NumberItem(kTagSerialMin, 0x1235)); }, false},
    {"serial one above the maximum", 0x1234,
     [](auto& l) { SetItem(l, vupdate::NumberItem(kTagSerialMax, 0x1233)); }, false},
    {"no SNMX refuses serial 1", 1,
     [](auto& l) {
       DropItem(l, kTagSerialMax);
       DropItem(l, kTagSerialMin);
     },
     false},
    {"no SNMX takes serial 0", 0,
     [](auto& l) {
       DropItem(l, kTagSerialMax);
       DropItem(l, kTagSerialMin);
     },
     true},
    {"same firmware and CCS", 0x1234, [](auto&) {}, true},
    {"newer firmware", 0x1234, [](auto& l) { SetItem(l, vupdate::NumberItem(kTagFirmware, 0x01010000)); },
     true},
    {"firmware newer only in its hidden bytes", 0x1234,
     [](auto& l) { SetItem(l, vupdate::NumberItem(kTagFirmware, 0x01000001)); }, true},
    {"older firmware", 0x1234, [](auto& l) { SetItem(l, vupdate::NumberItem(kTagFirmware, 0x00090000)); },
     false},
    {"older CCS", 0x1234, [](auto& l) { SetItem(l, vupdate::NumberItem(kTagCcs, 0x00FFFFFF)); }, false},
    {"newer updater required", 0x1234,
     [](auto& l) { SetItem(l, vupdate::NumberItem(kTagInstaller, 0x01010000)); }, false},
    {"no INSV", 0x1234, [](auto& l) { DropItem(l, kTagInstaller); }, false},
    {"vendor differs in case", 0x1234,
     [](auto& l) { SetItem(l, vupdate::TextItem(kTagVendor, "NORVALE Co., Ltd.")); }, false},
    {"no product", 0x1234, [](auto& l) { DropItem(l, kTagProduct); }, false},
    {"later of two fwrv counts", 0x1234,
     [](auto& l) {
       l.items.insert(l.items.begin(), vupdate::NumberItem(kTagFirmware, 0x00010000));
       l.items.push_back(vupdate::NumberItem(kTagFirmware, 0x02000000));
     },
     true},
};

class Fits : public VerifyTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(Fits, VersionsSerialRangeAndNames) {
  const FitCase& row = GetParam();
  vupdate::FileLayout layout = FittingLayout();
  row.change(layout);
  sim::Profile profile;
  profile.serial = row.serial;
  const sim::RunResult run = RunWith(layout, profile);
  if (row.accepted) {
    ExpectAccepted(run);
  } else {
    ExpectRefused(run, -1);
    ASSERT_EQ(run.logLines.size(), 9u);
    EXPECT_EQ(run.logLines[0], "Camera incompible with files.");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Fits, ::testing::ValuesIn(kFitCases), RowName());

struct DebugCase {
  const char* name;
  std::function<void(vupdate::FileLayout&)> change;
  bool accepted;
};

const DebugCase kDebugCases[] = {
    {"another region", [](auto& l) { SetItem(l, vupdate::NumberItem(kTagRegion, 6)); }, true},
    {"older firmware and CCS",
     [](auto& l) {
       SetItem(l, vupdate::NumberItem(kTagFirmware, 0x00010000));
       SetItem(l, vupdate::NumberItem(kTagCcs, 0));
     },
     true},
    {"outside the serial range", [](auto& l) { SetItem(l, vupdate::NumberItem(kTagSerialMin, 0x9999)); },
     true},
    {"another updater version", [](auto& l) { SetItem(l, vupdate::NumberItem(kTagInstaller, 0)); }, false},
    {"another vendor", [](auto& l) { SetItem(l, vupdate::TextItem(kTagVendor, "Norvale")); }, false},
    {"another product and region",
     [](auto& l) {
       SetItem(l, vupdate::TextItem(kTagProduct, "Calyte"));
       SetItem(l, vupdate::NumberItem(kTagRegion, 6));
     },
     false},
};

class DebugFiles : public VerifyTest, public ::testing::WithParamInterface<DebugCase> {};

TEST_P(DebugFiles, SkipRegionVersionAndSerialRulesOnly) {
  const DebugCase& row = GetParam();
  vupdate::FileLayout layout = FittingLayout();
  layout.items.push_back(vupdate::TextItem(kTagDebug, "factory line 3"));
  row.change(layout);
  const sim::RunResult run = RunWith(layout);
  if (row.accepted) {
    ExpectAccepted(run);
    EXPECT_TRUE(run.debugMode);
    EXPECT_STREQ(gCam.debugText, "factory line 3");
  } else {
    ExpectRefused(run, -1);
    EXPECT_FALSE(run.debugMode);
    // Only the fixed line: a debug file never meets the region rows.
    ASSERT_EQ(run.logLines.size(), 9u);
    EXPECT_EQ(run.logLines[0], "Camera incompible with files.");
    EXPECT_EQ(CardFiles(), std::vector<std::string>{"UPDATE.LOG"});
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DebugFiles, ::testing::ValuesIn(kDebugCases), RowName());

TEST_F(VerifyTest, EmptyDebugLabelIsNoDebugFile) {
  vupdate::FileLayout layout = FittingLayout();
  layout.items.push_back(vupdate::TextItem(kTagDebug, ""));
  SetItem(layout, vupdate::NumberItem(kTagRegion, 6));
  const sim::RunResult run = RunWith(layout);
  ExpectRefused(run, -1);
  EXPECT_EQ(run.logLines.at(0), "camera is US and file is not");
}

TEST_F(VerifyTest, UnterminatedDebugLabelIsCutAtItsField) {
  vupdate::FileLayout layout = FittingLayout();
  layout.items.push_back(vupdate::TextItem(kTagDebug, std::string(32, 'D')));
  layout.items.push_back(vupdate::NumberItem(kTagFirmware, 0x01000000));  // the byte after the field
  const sim::RunResult run = RunWith(layout);
  ExpectAccepted(run);
  EXPECT_EQ(std::string(gCam.debugText), std::string(31, 'D'));
}

TEST_F(VerifyTest, UnterminatedProductIsComparedAndLoggedWithinItsField) {
  vupdate::FileLayout layout = FittingLayout();
  SetItem(layout, vupdate::TextItem(kTagProduct, "Calyte QR" + std::string(23, 'x')));
  const sim::RunResult run = RunWith(layout);
  ExpectRefused(run, -1);
  ASSERT_EQ(run.logLines.size(), 9u);
  EXPECT_EQ(run.logLines[8],
            "Product name:          'Calyte QR'(cam)  'Calyte QR" + std::string(22, 'x') + "'(file)");
}

}  // namespace
}  // namespace verify_test
