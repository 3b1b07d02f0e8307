// Which cameras a well-formed file fits: region rows, versions, serial range, debug files.
#include <optional>

#include "verify_fixture.h"

namespace verify_test {
namespace {

using vupdate::NumberItem;
using vupdate::TextItem;

const vupdate::TrailerItem kLabel = TextItem(kTagDebug, "factory line 3");

struct Fit {
  const char* name;
  Change change;        // of the fitting file
  const char* refusal;  // the line before the comparison; null: accepted
  std::uint32_t region = 1;
  std::optional<std::uint32_t> capability = 1;  // nullopt: the query fails
};

const Fit kFits[] = {
    // The region rows, in the order they are asked.
    {"DevelopmentTakesRegion6", With(kTagRegion, 6), nullptr, 1, 4},
    {"DevelopmentRefusesRegion1", With(kTagRegion, 1), "camera is development and file is not", 1, 4},
    {"DevelopmentBeforeJapanese", With(kTagRegion, 8), "camera is development and file is not", 8, 4},
    {"JapaneseTakesRegion8", With(kTagRegion, 8), nullptr, 8, 1},
    {"JapaneseBeforeEuropean", With(kTagRegion, 3), "camera is Japanese and file is not", 8, 3},
    {"EuropeanTakesRegion3", With(kTagRegion, 3), nullptr, 1, 3},
    {"EuropeanRefusesItsOwnSetting", With(kTagRegion, 1), "camera is European and file is not", 1, 3},
    {"FailedQueryIsNeverEuropean", With(kTagRegion, 3), "camera is US and file is not", 1, std::nullopt},
    {"FailedQueryStillJapanese", With(kTagRegion, 1), "camera is Japanese and file is not", 8, std::nullopt},
    {"USTakesItsOwnRegion", With(kTagRegion, 2), nullptr, 2, 1},
    {"USRefusesRegion6", With(kTagRegion, 6), "camera is US and file is not", 2, 1},
    // Versions, serial range and names.
    {"SerialRangeIsInclusive", With({NumberItem(kTagSerialMin, 0x1234), NumberItem(kTagSerialMax, 0x1234)}),
     nullptr},
    {"SerialOneAboveTheMaximum", With(kTagSerialMax, 0x1233), kMisfit},
    {"NewerFirmware", With(kTagFirmware, 0x01010000), nullptr},
    {"OlderCCS", With(kTagCcs, 0x00FFFFFF), kMisfit},
    {"NewerUpdaterRequired", With(kTagInstaller, 0x01010000), kMisfit},
    {"VendorDiffersInCase", With({TextItem(kTagVendor, "NORVALE Co., Ltd.")}), kMisfit},
    // A debug file skips the region, version and serial rules, and only those.
    {"DebugFileForAnotherRegion", With({kLabel, NumberItem(kTagRegion, 6)}), nullptr},
    {"DebugFileWithOlderFirmwareAndCCS",
     With({kLabel, NumberItem(kTagFirmware, 0x00010000), NumberItem(kTagCcs, 0)}), nullptr},
    {"DebugFileOutsideTheSerialRange", With({kLabel, NumberItem(kTagSerialMin, 0x9999)}), nullptr},
    {"DebugFileForAnotherVendor", With({kLabel, TextItem(kTagVendor, "Norvale")}), kMisfit},
    {"DebugFileForAnotherProductAndRegion",
     With({kLabel, TextItem(kTagProduct, "Calyte"), NumberItem(kTagRegion, 6)}), kMisfit},
    {"EmptyDebugLabelIsNoDebugFile", With({TextItem(kTagDebug, ""), NumberItem(kTagRegion, 6)}),
     "camera is US and file is not"},
};

class Fits : public VerifyTest, public ::testing::WithParamInterface<Fit> {};

TEST_P(Fits, AcceptedOrRefusedWithTheFirstRuleBroken) {
  const Fit& row = GetParam();
  vupdate::FileLayout layout = FittingLayout();
  row.change(layout);
  sim::Profile profile;
  profile.region = row.region;
  profile.regionCapability = row.capability;

  const harness::RunResult run = Run(vupdate::BuildUpdateFile(layout), profile);

  ExpectEnd(run, row.refusal ? -1 : 0);
  // A debug file that fits makes the rest of the update run in debug mode.
  const bool debug =
      !row.refusal && std::ranges::any_of(layout.items, [](auto& i) { return i.tag == kTagDebug; });
  EXPECT_EQ(run.debugMode, debug);
  EXPECT_STREQ(gCam.debugText, debug ? "factory line 3" : "");
  // Refused: the first rule broken, the comparison, and the files gone; a capability the camera could not
  // read says so after the rule and keeps them.
  const bool unread = row.refusal && !row.capability;
  ASSERT_EQ(run.logLines.size(), row.refusal ? (unread ? 10u : 9u) : 0u);
  if (row.refusal) {
    EXPECT_EQ(run.logLines[0], row.refusal);
  }
  if (unread) {
    EXPECT_EQ(run.logLines[1],
              "Could not read the camera's rgnc capability parameter; the update files are kept.");
  }
  std::vector<std::string> files = {"QR40000.BIN", "UPDATE.CAM", "UPDATE.CRS"};
  if (unread) files.push_back("UPDATE.LOG");
  EXPECT_EQ(CardFiles(), row.refusal && !unread ? std::vector<std::string>{"UPDATE.LOG"} : files);
}

INSTANTIATE_TEST_SUITE_P(Table, Fits, ::testing::ValuesIn(kFits), RowName);

}  // namespace
}  // namespace verify_test
