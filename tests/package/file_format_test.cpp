// The file reader's routines called directly on a card descriptor: byte sums over edge stretches, and a
// trailer offset no seek reaches. What the reader logs within a whole verification is in the refusal table.
#include "package/file_format.h"
#include "package/digest.h"

#include "package/file_set.h"
#include "platform/files.h"
#include "services/log.h"
#include "sim/card.h"
#include "verify_fixture.h"

namespace verify_test {
namespace {

class Reader : public sim_test::CameraTest {
 protected:
  // Opens a file of 3000 bytes of `fill`.
  std::int32_t Open(std::uint8_t fill) {
    sim_test::WriteFile(card_ / "SYSTEM" / "F.BIN", std::string(3000, static_cast<char>(fill)));
    Start();
    gStrLogFileName = "/B/SYSTEM/UPDATE.LOG";
    const std::int32_t fd = vestra::FSOpen("/B/SYSTEM/F.BIN", 0, 0);
    EXPECT_GE(fd, 0);
    return fd;
  }
  const std::vector<std::string>& Log() { return LogLines(); }
};

struct SumCase {
  const char* name;
  std::uint8_t fill;
  std::uint32_t offset;
  std::int32_t length;
  std::uint32_t sum;  // what the stretch adds up to
  const char* line;   // logged when one more is expected
};

const SumCase kSumCases[] = {
    {"LengthZero", 1, 10, 0, 0, "CHKSUM: requiredChecksum=00000001 vs. calculated=00000000"},
    {"ShorterThanABlock", 1, 2990, 7, 7, "CHKSUM: requiredChecksum=00000008 vs. calculated=00000007"},
    {"AcrossBlocksBytesUnsigned", 0xFF, 1, 2500, 2500 * 0xFF,
     "CHKSUM: requiredChecksum=0009BA3D vs. calculated=0009BA3C"},
    {"FileEndingEarly", 1, 2900, 500, 100, "CHKSUM: requiredChecksum=00000065 vs. calculated=00000064"},
};

class ByteSums : public Reader, public ::testing::WithParamInterface<SumCase> {};

TEST_P(ByteSums, PassWithTheRightSumAndLogTheWrongOne) {
  const SumCase& row = GetParam();
  const std::int32_t fd = Open(row.fill);
  EXPECT_EQ(VerifyChecksum(fd, row.offset, row.length, row.sum), 0);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(VerifyChecksum(fd, row.offset, row.length, row.sum + 1), -2);
  EXPECT_EQ(Log(), std::vector<std::string>{row.line});
  vestra::FSClose(fd);
}

INSTANTIATE_TEST_SUITE_P(Table, ByteSums, ::testing::ValuesIn(kSumCases), RowName);

TEST_F(Reader, TrailerOffsetBeyondWhatASeekReachesIsLogged) {
  const std::int32_t fd = Open(1);
  CameraInfo record{};
  record.header.trailerOffset = 0x80000000u;
  EXPECT_EQ(ReadFileTrailer(fd, &record), -2);
  EXPECT_EQ(Log(), std::vector<std::string>{"Could not seek to trailer offset."});
  vestra::FSClose(fd);
}

}  // namespace
}  // namespace verify_test

namespace verify_test {
namespace {

// The image digest: the standard check value, and the same result however the bytes arrive in pieces.
TEST(ImageDigest, StandardCheckValueAndAnySplit) {
  const auto crc = [](const std::uint8_t* bytes, std::uint32_t count) {
    return Crc32Final(Crc32Update(kCrc32Start, bytes, count));
  };
  const std::string check = "123456789";
  EXPECT_EQ(crc(reinterpret_cast<const std::uint8_t*>(check.data()), 9), 0xCBF43926u);
  EXPECT_EQ(crc(nullptr, 0), 0u);
  std::vector<std::uint8_t> bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
  const std::uint32_t whole = crc(bytes.data(), 1000);
  for (std::uint32_t split : {1u, 7u, 8u, 9u, 500u, 999u}) {
    const std::uint32_t first = Crc32Update(kCrc32Start, bytes.data(), split);
    EXPECT_EQ(Crc32Final(Crc32Update(first, bytes.data() + split, 1000 - split)), whole) << split;
  }
}

}  // namespace
}  // namespace verify_test
