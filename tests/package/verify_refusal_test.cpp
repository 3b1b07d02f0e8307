// Every way the verification refuses an update, each with the exact log it leaves and the files it removes.
#include <functional>

#include "package/tags.h"
#include "verify_fixture.h"

namespace verify_test {
namespace {

using verify_test::PrintTo;

// Placeholders for the byte sum of a file's first size - 4 bytes and for its stated checksum.
constexpr const char* kFileSum = "<filesum>";
constexpr const char* kStated = "<stated>";

struct Refusal {
  const char* name;
  std::function<void(vupdate::FileLayout&)> change;
  std::function<void(std::vector<std::uint8_t>&)> cut;  // applied to the built bytes
  bool fontFile;
  int errCode;
  std::vector<std::string> reason;  // the lines before the comparison
  std::function<FileSide()> side;   // what the comparison shows of the file
  bool deletes;
};

const auto kNothingRead = [] { return FileSide{}; };
const auto kAllRead = [] { return FittingSide(); };
void NoChange(vupdate::FileLayout&) {}
void NoCut(std::vector<std::uint8_t>&) {}

const std::vector<Refusal> kRefusals = {
    {"font file missing",
     NoChange,
     NoCut,
     false,
     -4,
     {"/B/SYSTEM/UPDATE.CRS is missing"},
     kNothingRead,
     false},
    {"header cut short", NoChange, [](auto& b) { b.resize(63); }, true, -2, {}, kNothingRead, true},
    {"wrong file type",
     [](auto& l) { l.fileType = MakeTag("CDOE"); },
     NoCut,
     true,
     -2,
     {"Wrong file type"},
     kNothingRead,
     true},
    {"header size not 64",
     [](auto& l) { l.headerSize = 60; },
     NoCut,
     true,
     -2,
     {"header wrong size"},
     kNothingRead,
     true},
    {"image checksum wrong",
     [](auto& l) { l.imageChecksum = 0x8333; },
     NoCut,
     true,
     -2,
     {"CHKSUM: requiredChecksum=00008333 vs. calculated=00008332", "image checksum doesn't match"},
     kNothingRead,
     true},
    {"image length 0x200000",
     [](auto& l) { l.imageEnd = 0x1FFFFF; },
     NoCut,
     true,
     -2,
     {"image size is not less than 0x200000 bytes"},
     kNothingRead,
     true},
    {"image length not the image stretch",
     [](auto& l) { l.imageEnd = 298; },
     NoCut,
     true,
     -2,
     {"Image size does not match trailer offset-header size"},
     kNothingRead,
     true},
    {"unknown tag after two good ones",
     [](auto& l) { l.items.insert(l.items.begin() + 2, vupdate::NumberItem(MakeTag("FWRV"), 7)); },
     NoCut,
     true,
     -2,
     {"Unknown tag (FWRV) found.", "Could not read trailer"},
     [] {
       return FileSide{0x01000000, 0x01000000};
     },
     true},
    {"file checksum wrong",
     [](auto& l) { l.fileChecksum = 0xDEADBEEF; },
     NoCut,
     true,
     -2,
     {std::string("CHKSUM: requiredChecksum=") + kStated + " vs. calculated=" + kFileSum,
      "file checksum doesn't match"},
     kAllRead,
     true},
    {"region rule broken",
     [](auto& l) { l.items[2] = vupdate::NumberItem(kTagRegion, 2); },
     NoCut,
     true,
     -1,
     {"camera is US and file is not"},
     [] {
       FileSide s = FittingSide();
       s.region = 2;
       return s;
     },
     true},
    {"older firmware",
     [](auto& l) { l.items[0] = vupdate::NumberItem(kTagFirmware, 0x00FF0000); },
     NoCut,
     true,
     -1,
     {"Camera incompible with files."},
     [] {
       FileSide s = FittingSide();
       s.fw = 0x00FF0000;
       return s;
     },
     true},
    {"debug file for another updater version",
     [](auto& l) {
       l.items[3] = vupdate::NumberItem(kTagInstaller, 0x02000000);
       l.items.push_back(vupdate::TextItem(kTagDebug, "bench"));
     },
     NoCut,
     true,
     -1,
     {"Camera incompible with files."},
     [] {
       FileSide s = FittingSide();
       s.installer = 0x02000000;
       return s;
     },
     true},
};

class Refusals : public VerifyTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, LogsTheReasonThenTheComparisonAndCleansUp) {
  const Refusal& row = GetParam();
  vupdate::FileLayout layout = FittingLayout();
  row.change(layout);
  std::vector<std::uint8_t> bytes = vupdate::BuildUpdateFile(layout);
  row.cut(bytes);
  PutCodeFile(bytes);
  if (!row.fontFile) fs::remove(system_ / "UPDATE.CRS");

  const sim::RunResult run = Run();

  ExpectRefused(run, row.errCode);
  std::vector<std::string> expected = Concat(row.reason, Comparison(row.side()));
  for (std::string& line : expected) {
    if (auto at = line.find(kFileSum); at != std::string::npos) {
      line.replace(at, std::string(kFileSum).size(),
                   Hex8(vupdate::ByteSum({bytes.data(), bytes.size() - 4})));
    }
    if (auto at = line.find(kStated); at != std::string::npos) {
      line.replace(at, std::string(kStated).size(), Hex8(*layout.fileChecksum));
    }
  }
  EXPECT_EQ(run.logLines, expected);
  // A damaged or unfitting set goes from the card, its log stays; an incomplete one is left alone.
  const std::vector<std::string> kept =
      row.fontFile ? std::vector<std::string>{"QR40000.BIN", "UPDATE.CAM", "UPDATE.CRS", "UPDATE.LOG"}
                   : std::vector<std::string>{"QR40000.BIN", "UPDATE.CAM", "UPDATE.LOG"};
  EXPECT_EQ(CardFiles(), row.deletes ? std::vector<std::string>{"UPDATE.LOG"} : kept);
  EXPECT_FALSE(run.debugMode);
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, Refusals, ::testing::ValuesIn(kRefusals), RowName());

// The comparison's layout, pinned without the helper that builds it elsewhere.
TEST_F(VerifyTest, ComparisonOfAMissingFontFileShowsAnEmptyFileSide) {
  PutCodeFile(vupdate::BuildUpdateFile(FittingLayout()));
  fs::remove(system_ / "UPDATE.CRS");
  const sim::RunResult run = Run();
  const std::vector<std::string> expected = {
      "/B/SYSTEM/UPDATE.CRS is missing",
      "Firmware version:      1000000(cam)  0(file)",
      "CCS version:           1000000(cam)  0(file)",
      "Region code:           1(cam)  0(file)",
      "Installer version:     1000000(cam)  0(file)",
      "Minimum serial number: 1234(cam)  0(file)",
      "Maximum serial number: 1234(cam)  0(file)",
      "Vendor name:           'Norvale Co., Ltd.'(cam)  ''(file)",
      "Product name:          'Calyte QR'(cam)  ''(file)",
  };
  EXPECT_EQ(run.logLines, expected);
}

// The directory scan finds the name, but a folder cannot be opened as a file.
TEST_F(VerifyTest, CodeFileThatCannotBeOpenedIsMissing) {
  fs::create_directories(system_ / "QR40000.BIN");
  const sim::RunResult run = Run();
  ExpectRefused(run, -4);
  EXPECT_EQ(run.logLines, Concat({"/B/SYSTEM/QR40000.BIN is missing"}, Comparison({})));
  EXPECT_EQ(CardFiles(), (std::vector<std::string>{"QR40000.BIN", "UPDATE.CAM", "UPDATE.CRS", "UPDATE.LOG"}));
}

TEST_F(VerifyTest, ImageOfExactly0x200000BytesIsRefusedEvenWhenHeaderAndTrailerAgree) {
  const sim::RunResult run =
      RunWith(vupdate::LayoutFor(std::vector<std::uint8_t>(0x200000, 0x5A), FittingMetadata()));
  ExpectRefused(run, -2);
  ASSERT_FALSE(run.logLines.empty());
  EXPECT_EQ(run.logLines.front(), "image size is not less than 0x200000 bytes");
}

TEST_F(VerifyTest, LogOfAnEarlierRunStaysInFront) {
  sim_test::WriteFile(system_ / "UPDATE.LOG", "earlier\r\n");
  vupdate::FileLayout layout = FittingLayout();
  layout.fileType = MakeTag("DATA");
  RunWith(layout);
  const std::string log = sim_test::ReadFile(system_ / "UPDATE.LOG");
  EXPECT_EQ(log.rfind("earlier\r\nWrong file type\r\nFirmware version:", 0), 0u) << log;
}

}  // namespace
}  // namespace verify_test
