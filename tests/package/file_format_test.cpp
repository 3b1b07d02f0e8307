// The file reader on its own: trailer failures as the log shows them, and byte sums over edge stretches.
#include "package/file_format.h"

#include <cstring>
#include <functional>

#include "package/file_set.h"
#include "package/tags.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "sim/card.h"
#include "verify_fixture.h"

namespace verify_test {
namespace {

using verify_test::PrintTo;

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// A well-formed header and image followed by these trailer bytes, as they are, without "DONE".
std::vector<std::uint8_t> WithTrailer(const std::vector<std::uint8_t>& trailer) {
  vupdate::FileLayout layout = FittingLayout();
  layout.items.clear();
  layout.appendDone = false;
  std::vector<std::uint8_t> file = vupdate::BuildUpdateFile(layout);
  file.insert(file.end(), trailer.begin(), trailer.end());
  return file;
}

std::vector<std::uint8_t> Item(std::uint32_t tag, std::vector<std::uint8_t> data) {
  std::vector<std::uint8_t> out(4 + data.size());
  vestra::StoreBE32(out.data(), tag);
  std::copy(data.begin(), data.end(), out.begin() + 4);
  return out;
}

struct TrailerCase {
  const char* name;
  std::vector<std::uint8_t> trailer;
  const char* line;
};

const std::vector<std::uint8_t> kInsv = Item(kTagInstaller, {1, 0, 0, 0});

const TrailerCase kTrailerCases[] = {
    {"empty trailer", {}, "'DONE' tag not found"},
    {"items but no DONE", kInsv, "'DONE' tag not found"},
    {"one byte of a tag", Bytes("D"), "Could not read tag type."},
    {"two bytes of a tag", Bytes("DO"), "Could not read tag type."},
    {"three bytes of a tag", Bytes("DON"), "Could not read tag type."},
    {"cut inside a text", Item(kTagVendor, std::vector<std::uint8_t>(31, 'N')),
     "Could not read tag (vdid) data."},
    {"cut inside the checksum", Item(kTagDone, {0, 0, 1}), "Could not read tag (DONE) data."},
    {"upper case of a lower-case tag", Item(MakeTag("FWRV"), {1, 0, 0, 0}), "Unknown tag (FWRV) found."},
    {"lower case of an upper-case tag", Item(MakeTag("insv"), {1, 0, 0, 0}), "Unknown tag (insv) found."},
    {"the serial parameter's name", Item(MakeTag("sern"), {0, 0, 0x12, 0x34}), "Unknown tag (sern) found."},
};

class TrailerFailures : public VerifyTest, public ::testing::WithParamInterface<TrailerCase> {};

TEST_P(TrailerFailures, LogTheReaderLineThenTheVerifierLine) {
  const TrailerCase& row = GetParam();
  std::vector<std::uint8_t> file = WithTrailer(kInsv);
  const std::vector<std::uint8_t> rest = row.trailer;
  file.insert(file.end(), rest.begin(), rest.end());
  if (row.trailer.empty()) file = WithTrailer({});
  PutCodeFile(file);
  const sim::RunResult run = Run();
  ExpectRefused(run, -2);
  ASSERT_GE(run.logLines.size(), 2u);
  EXPECT_EQ(run.logLines[0], row.line);
  EXPECT_EQ(run.logLines[1], "Could not read trailer");
  EXPECT_EQ(run.logLines.size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Table, TrailerFailures, ::testing::ValuesIn(kTrailerCases), RowName());

TEST_F(VerifyTest, BytesAfterDoneAreNotWalkedButBreakTheFileSum) {
  std::vector<std::uint8_t> file = vupdate::BuildUpdateFile(FittingLayout());
  const std::uint32_t stated = vestra::LoadBE32(&file[file.size() - 4]);
  file.insert(file.end(), {'J', 'U', 'N', 'K'});
  PutCodeFile(file);
  const sim::RunResult run = Run();
  ExpectRefused(run, -2);
  ASSERT_GE(run.logLines.size(), 2u);
  EXPECT_EQ(run.logLines[0], "CHKSUM: requiredChecksum=" + Hex8(stated) +
                                 " vs. calculated=" + Hex8(vupdate::ByteSum({file.data(), file.size() - 4})));
  EXPECT_EQ(run.logLines[1], "file checksum doesn't match");
}

// The reader's routines called directly on a card descriptor.
class Reader : public sim_test::CameraTest {
 protected:
  std::int32_t Open(const std::vector<std::uint8_t>& bytes) {
    sim_test::WriteFile(card_ / "SYSTEM" / "F.BIN", std::string(bytes.begin(), bytes.end()));
    Start();
    gStrLogFileName = "/B/SYSTEM/UPDATE.LOG";
    const std::int32_t fd = vestra::FSOpen("/B/SYSTEM/F.BIN", 0, 0);
    EXPECT_GE(fd, 0);
    return fd;
  }
  const std::vector<std::string>& Log() { return camera_->card().LogLines(); }
};

struct SumCase {
  const char* name;
  std::vector<std::uint8_t> file;
  std::uint32_t offset;
  std::int32_t length;
  std::uint32_t sum;           // what the stretch adds up to
  std::int32_t positionAfter;  // -1: not looked at
};

const std::vector<std::uint8_t> k3000Ones(3000, 1);

const SumCase kSumCases[] = {
    {"length zero", k3000Ones, 10, 0, 0, 10},
    {"negative length", k3000Ones, 10, -5, 0, 10},
    {"shorter than a block, nothing beyond", k3000Ones, 2990, 7, 7, 2997},
    {"one block exactly", k3000Ones, 0, 1024, 1024, 1024},
    {"one byte past a block", k3000Ones, 1, 1025, 1025, 1026},
    {"several blocks", std::vector<std::uint8_t>(3000, 0xFF), 0, 3000, 3000u * 0xFF, 3000},
    {"past the end of the file", k3000Ones, 2900, 500, 100, 3000},
    {"starting beyond the end", k3000Ones, 5000, 10, 0, -1},
    {"byte values, not signed chars", {0x80, 0xFF, 0x01}, 0, 3, 0x180, 3},
};

class ByteSums : public Reader, public ::testing::WithParamInterface<SumCase> {};

TEST_P(ByteSums, PassWithTheRightSumAndLogTheWrongOne) {
  const SumCase& row = GetParam();
  const std::int32_t fd = Open(row.file);
  EXPECT_EQ(VerifyChecksum(fd, row.offset, row.length, row.sum), 0);
  if (row.positionAfter >= 0) {
    EXPECT_EQ(vestra::lseek(fd, 0, 1), row.positionAfter);
  }
  EXPECT_TRUE(Log().empty());

  EXPECT_EQ(VerifyChecksum(fd, row.offset, row.length, row.sum + 1), -2);
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0], "CHKSUM: requiredChecksum=" + Hex8(row.sum + 1) + " vs. calculated=" + Hex8(row.sum));
  vestra::FSClose(fd);
}

INSTANTIATE_TEST_SUITE_P(Table, ByteSums, ::testing::ValuesIn(kSumCases), RowName());

TEST_F(Reader, ChecksumLinePrintsEightUpperCaseDigits) {
  const std::int32_t fd = Open({0x0A});
  EXPECT_EQ(VerifyChecksum(fd, 0, 1, 0xABCDEF), -2);
  EXPECT_EQ(Log(), std::vector<std::string>{"CHKSUM: requiredChecksum=00ABCDEF vs. calculated=0000000A"});
  vestra::FSClose(fd);
}

TEST_F(Reader, OffsetBeyondWhatASeekReachesFailsWithoutALine) {
  const std::int32_t fd = Open(k3000Ones);
  EXPECT_EQ(VerifyChecksum(fd, 0x80000000u, 4, 0), -2);
  EXPECT_EQ(VerifyChecksum(fd, 0xFFFFFFFFu, 4, 0), -2);
  EXPECT_TRUE(Log().empty());
  vestra::FSClose(fd);
}

TEST_F(Reader, HeaderWordsAreBigEndian) {
  std::vector<std::uint8_t> bytes(64);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  std::int32_t fd = Open(bytes);
  UpdateFileHeader header{};
  ASSERT_EQ(ReadFileHeader(fd, &header), 0);
  EXPECT_EQ(header.fileType, 0x00010203u);
  EXPECT_EQ(header.trailerOffset, 0x08090A0Bu);
  EXPECT_EQ(header.imageEnd, 0x14151617u);
  EXPECT_EQ(header.reserved[9], 0x3C3D3E3Fu);
  vestra::FSClose(fd);
}

TEST_F(Reader, TrailerOffsetBeyondWhatASeekReachesIsLogged) {
  const std::int32_t fd = Open(k3000Ones);
  CameraInfo record{};
  record.header.trailerOffset = 0x80000000u;
  EXPECT_EQ(ReadFileTrailer(fd, &record), -2);
  EXPECT_EQ(Log(), std::vector<std::string>{"Could not seek to trailer offset."});
  vestra::FSClose(fd);
}

TEST_F(Reader, TrailerFillsFieldsClearsTheDebugLabelAndKeepsAbsentFields) {
  std::vector<std::uint8_t> bytes(8, 0);
  for (const auto& item : {Item(kTagCcs, {0, 0, 0, 9}), Item(kTagVendor, std::vector<std::uint8_t>(32, 'V')),
                           Item(kTagDone, {0xCA, 0xFE, 0xF0, 0x0D})}) {
    bytes.insert(bytes.end(), item.begin(), item.end());
  }
  bytes.insert(bytes.end(), {'S', 'N', 'M', 'X'});  // never read: "DONE" ends the walk
  const std::int32_t fd = Open(bytes);
  CameraInfo record{};
  record.header.trailerOffset = 8;
  record.fwVersion = 0x55;
  std::strcpy(record.debugText, "stale");
  ASSERT_EQ(ReadFileTrailer(fd, &record), 0);
  EXPECT_EQ(record.ccsVersion, 9u);
  EXPECT_EQ(record.fwVersion, 0x55u);
  EXPECT_EQ(std::string(record.vendorName), std::string(31, 'V'));
  EXPECT_EQ(record.debugText[0], 0);
  EXPECT_EQ(record.fileChecksum, 0xCAFEF00Du);
  EXPECT_TRUE(Log().empty());
  vestra::FSClose(fd);
}

}  // namespace
}  // namespace verify_test
