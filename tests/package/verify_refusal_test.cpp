// Every way the verification refuses an update, each with the exact log it leaves and the files it removes.
#include <ranges>
#include <string_view>

#include "verify_fixture.h"

namespace verify_test {
namespace {

using vupdate::NumberItem;
using vupdate::TextItem;

// The fitting file's first items (fwrv, ccsv) and then these, with or without "DONE" and the file sum.
Change Trailer(std::vector<vupdate::TrailerItem> rest, bool done = false, std::size_t keep = 2) {
  return [rest, done, keep](vupdate::FileLayout& l) {
    l.items.resize(keep);
    l.items.insert(l.items.end(), rest.begin(), rest.end());
    l.appendDone = done;
  };
}
const FileSide kFirstTwo{"1000000", "1000000", "0", "0", "0", "0", "", ""};
FileSide Fits(void (*change)(FileSide&) = [](FileSide&) {}) {
  FileSide side;
  change(side);
  return side;
}

struct Refusal {
  const char* name;
  Change change;  // of the fitting file
  int errCode;
  const char* reason;             // the lines before the comparison, separated by '\n'
  FileSide side;                  // what the comparison shows of the file
  int cut = 0;                    // > 0: only so many bytes of the file; < 0: so many bytes fewer
  const char* missing = nullptr;  // this file is gone (a folder in place of the code file)
};

const Refusal kRefusals[] = {
    {"FontFileMissing", nullptr, -4, "/B/SYSTEM/UPDATE.CRS is missing", kNothingRead, 0, "UPDATE.CRS"},
    {"CodeFileCannotBeOpened", nullptr, -4, "/B/SYSTEM/QR40000.BIN is missing", kNothingRead, 0,
     "QR40000.BIN"},
    {"HeaderCutShort", nullptr, -2, "", kNothingRead, 63},
    {"WrongFileType", [](auto& l) { l.fileType = MakeTag("CDOE"); }, -2, "Wrong file type", kNothingRead},
    {"HeaderSizeNot64", [](auto& l) { l.headerSize = 60; }, -2, "header wrong size", kNothingRead},
    {"ImageChecksumWrong", [](auto& l) { l.imageChecksum = 0x8333; }, -2,
     "CHKSUM: requiredChecksum=00008333 vs. calculated=00008332\nimage checksum doesn't match", kNothingRead},
    {"ImageLength0x200000", [](auto& l) { l.imageEnd = 0x1FFFFF; }, -2,
     "image size is not less than 0x200000 bytes", kNothingRead},
    // An end one below the start wraps the length to 0: an empty stretch whose sum is 0 passes the sum.
    {"EmptyImage", [](auto& l) { l.image.clear(), l.imageEnd = 0xFFFFFFFF; }, -2, "image is empty",
     kNothingRead},
    {"EmptyImageAnywhere", [](auto& l) { l.image.clear(), l.imageStart = 0x8000, l.imageEnd = 0x7FFF; }, -2,
     "image is empty", kNothingRead},
    {"ImageLengthNotTheImageStretch", [](auto& l) { l.imageEnd = 298; }, -2,
     "Image size does not match trailer offset-header size", kNothingRead},
    {"NoDONE", Trailer({}), -2, "'DONE' tag not found\nCould not read trailer", kFirstTwo},
    {"TagCutShort", Trailer({}, true), -2, "Could not read tag type.\nCould not read trailer", kFirstTwo, -5},
    {"DONEDataCutShort", Trailer({}, true), -2, "Could not read tag (DONE) data.\nCould not read trailer",
     kFirstTwo, -1},
    // What did arrive of a cut item is in its field, the rest of the field as it was.
    {"TextDataCutShort",
     Trailer({TextItem(kTagVendor, "Norvale")}),
     -2,
     "Could not read tag (vdid) data.\nCould not read trailer",
     {"1000000", "1000000", "0", "0", "0", "0", "Norval", ""},
     -26},
    {"NumberDataCutShort",
     Trailer({NumberItem(kTagSerialMax, 0x12345678)}),
     -2,
     "Could not read tag (SNMX) data.\nCould not read trailer",
     {"1000000", "1000000", "0", "0", "0", "12340000", "", ""},
     -2},
    {"TagsAreCaseSensitive", Trailer({NumberItem(MakeTag("FWRV"), 7)}), -2,
     "Unknown tag (FWRV) found.\nCould not read trailer", kFirstTwo},
    {"FileChecksumWrong", [](auto& l) { l.fileChecksum = 0xDEADBEEF; }, -2,
     "CHKSUM: requiredChecksum=DEADBEEF vs. calculated=00009C07\nfile checksum doesn't match", Fits()},
    // Not walked as items, but summed: the sum runs to the file's last four bytes.
    {"BytesAfterDONE", Trailer({NumberItem(kTagDone, 0x9C07), {MakeTag("JUNK"), {}}}, false, 8), -2,
     "CHKSUM: requiredChecksum=00009C07 vs. calculated=00009CAA\nfile checksum doesn't match", Fits()},
    {"DebugFileForAnotherUpdaterVersion",
     With({NumberItem(kTagInstaller, 0x02000000), TextItem(kTagDebug, "bench")}), -1, kMisfit,
     Fits([](auto& s) { s.installer = "2000000"; })},
    {"RegionRuleBroken", With(kTagRegion, 2), -1, "camera is US and file is not",
     Fits([](auto& s) { s.region = "2"; })},
    {"OlderFirmware", With(kTagFirmware, 0x00FF0000), -1, kMisfit, Fits([](auto& s) { s.fw = "ff0000"; })},
    {"ATagGivenTwiceKeepsTheLaterValue",
     [](auto& l) { l.items.push_back(NumberItem(kTagFirmware, 0x00FF0000)); }, -1, kMisfit,
     Fits([](auto& s) { s.fw = "ff0000"; })},
    {"SerialBelowTheRange", With(kTagSerialMin, 0x1235), -1, kMisfit,
     Fits([](auto& s) { s.serialMin = "1235"; })},
    {"UnterminatedProductIsComparedAndShownWithinItsField",
     With({TextItem(kTagProduct, "Calyte QR" + std::string(23, 'x'))}), -1, kMisfit,
     Fits([](auto& s) { s.product = "Calyte QR" + std::string(22, 'x'); })},
};

class Refusals : public VerifyTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, LogTheReasonThenTheComparisonAndCleanUp) {
  const Refusal& row = GetParam();
  vupdate::FileLayout layout = FittingLayout();
  if (row.change) row.change(layout);
  std::vector<std::uint8_t> bytes = vupdate::BuildUpdateFile(layout);
  if (row.cut != 0) bytes.resize(row.cut > 0 ? row.cut : bytes.size() + row.cut);
  sim_test::WriteFile(system_ / "QR40000.BIN", std::string(bytes.begin(), bytes.end()));
  if (row.missing) fs::remove(system_ / row.missing);
  if (!fs::exists(system_ / "QR40000.BIN")) fs::create_directory(system_ / "QR40000.BIN");
  const std::vector<std::string> before = CardFiles();

  const harness::RunResult run = Run();

  ExpectEnd(run, row.errCode);
  EXPECT_FALSE(run.debugMode);
  std::vector<std::string> expected;
  for (auto line : std::views::split(std::string_view(row.reason), '\n'))
    expected.emplace_back(line.begin(), line.end());
  for (std::string& line : Comparison(row.side)) expected.push_back(line);
  EXPECT_EQ(run.logLines, expected);
  // A damaged or unfitting set goes from the card, its log stays; an incomplete one is left alone.
  std::vector<std::string> kept = row.missing ? before : std::vector<std::string>{};
  kept.push_back("UPDATE.LOG");
  EXPECT_EQ(CardFiles(), kept);
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, Refusals, ::testing::ValuesIn(kRefusals), RowName);

// A fault of the card or of the camera says nothing about the file: the refusal stands, the files stay. The
// fitting file is 64 header bytes, 300 image bytes, then the trailer at 364.
struct Fault {
  const char* name;
  std::function<void(sim::FaultProfile&)> faults;
  Change change;  // of the fitting file
  int errCode;
  const char* reason;  // the lines before the comparison, separated by '\n'
  bool kept;           // the update files are still on the card
};

constexpr const char* kUnread = "Could not read the update file.";
// The read of the code file that covers this byte for the nth time fails, once.
auto ReadFails(std::uint32_t offset, std::uint32_t nth = 1) {
  return [=](sim::FaultProfile& f) { f.cardReadErrors.push_back({"SYSTEM/QR40000.BIN", offset, 0, nth, 1}); };
}
auto Unreadable(const char* parameter) {
  return [=](sim::FaultProfile& f) { f.unreadableParams.emplace_back(parameter); };
}
Change Debug(const char* vendor) {
  return With({TextItem(kTagDebug, "bench"), TextItem(kTagVendor, vendor)});
}

const Fault kFaults[] = {
    {"HeaderUnreadable", ReadFails(0), nullptr, -2, kUnread, true},
    {"ImageUnreadable", ReadFails(200), nullptr, -2, kUnread, true},
    {"TrailerUnreadable", ReadFails(364), nullptr, -2, kUnread, true},
    {"WholeFileUnreadable", ReadFails(200, 2), nullptr, -2, kUnread, true},
    {"RegionUnreadable", Unreadable("rgnc"), nullptr, -1,
     "camera is US and file is not\nCould not read the camera's rgnc parameter; the update files are kept.",
     true},
    {"RegionCapabilityUnreadable", Unreadable("rgnc_capability"), With(kTagRegion, 3), -1,
     "camera is US and file is not\n"
     "Could not read the camera's rgnc capability parameter; the update files are kept.",
     true},
    {"SerialUnreadable", Unreadable("sern"), nullptr, -1,
     "Camera incompible with files.\nCould not read the camera's sern parameter; the update files are kept.",
     true},
    // Neither rests on what could not be read.
    {"DebugFileOfAnotherVendorWithSerialUnreadable", Unreadable("sern"), Debug("Other"), -1, kMisfit, false},
    {"DamagedFileWithRegionUnreadable", Unreadable("rgnc"), [](auto& l) { l.imageChecksum = 0x8333; }, -2,
     "CHKSUM: requiredChecksum=00008333 vs. calculated=00008332\nimage checksum doesn't match", false},
};

class Faults : public VerifyTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(Faults, KeepTheFilesUnlessTheFileItselfIsRefused) {
  const Fault& row = GetParam();
  vupdate::FileLayout layout = FittingLayout();
  if (row.change) row.change(layout);
  const std::vector<std::uint8_t> bytes = vupdate::BuildUpdateFile(layout);
  sim::Profile profile;
  row.faults(profile.faults);
  const harness::RunResult run = Run(bytes, std::move(profile));

  ExpectEnd(run, row.errCode);
  std::vector<std::string> reason;
  for (auto line : std::views::split(std::string_view(row.reason), '\n'))
    reason.emplace_back(line.begin(), line.end());
  ASSERT_GE(run.logLines.size(), reason.size() + 8);
  EXPECT_EQ(std::vector<std::string>(run.logLines.begin(), run.logLines.end() - 8), reason);
  std::vector<std::string> left = {"UPDATE.LOG"};
  if (row.kept) left = {"QR40000.BIN", "UPDATE.CAM", "UPDATE.CRS", "UPDATE.LOG"};
  EXPECT_EQ(CardFiles(), left);
}

INSTANTIATE_TEST_SUITE_P(CardAndCamera, Faults, ::testing::ValuesIn(kFaults), RowName);

}  // namespace
}  // namespace verify_test
