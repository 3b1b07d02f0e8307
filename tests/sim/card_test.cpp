// Drive B: what the module can reach on the card, and how files behave through the platform's calls.
#include "sim/card.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel.h"
#include "sim_fixture.h"

namespace {

using sim_test::ReadFile;
using sim_test::WriteFile;
namespace fs = std::filesystem;

class CardTest : public sim_test::CameraTest {};

// The same semantics on both storages: the host folder, and memory (param true).
class EitherCardTest : public sim_test::CameraTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    if (GetParam()) {
      memory_ = std::make_shared<sim::MemoryCard>();
      memory_->MakeFolder("SYSTEM");
      storage_ = memory_;
    }
  }
  void Put(const std::string& path, const std::string& bytes) {
    if (memory_) return memory_->Put(path, bytes);
    WriteFile(card_ / path, bytes);
  }
  void MakeFolder(const std::string& path) {
    if (memory_) return memory_->MakeFolder(path);
    fs::create_directories(card_ / path);
  }
  std::optional<std::string> Get(const std::string& path) {
    if (memory_) return memory_->Get(path);
    if (!fs::is_regular_file(card_ / path)) return std::nullopt;
    return ReadFile(card_ / path);
  }

  std::shared_ptr<sim::MemoryCard> memory_;
};
INSTANTIATE_TEST_SUITE_P(Storage, EitherCardTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Memory" : "Folder"; });

struct PathCase {
  const char* path;
  const char* hostRelative;  // null: refused
};

TEST_P(EitherCardTest, OnlyPathsUnderDriveBReachTheCardAndNoneLeaveIt) {
  const PathCase cases[] = {
      {"/B/SYSTEM/NEW.TXT", "SYSTEM/NEW.TXT"},
      {"/B/./SYSTEM//DOT.TXT", "SYSTEM/DOT.TXT"},
      {"/B/../escape.txt", nullptr},
      {"/B/SYSTEM/../../escape.txt", nullptr},
      {"/B/SYSTEM/../TOP2.TXT", nullptr},  // never climbs, even when it would stay inside
      {"/C/SYSTEM/X.TXT", nullptr},
      {"B/SYSTEM/X.TXT", nullptr},
      {"", nullptr},
  };
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    vestra::FILE* f = vestra::fopen(c.path, "w");
    if (c.hostRelative == nullptr) {
      EXPECT_EQ(f, nullptr);
      EXPECT_FALSE(camera_->card().Reaches(c.path));
      continue;
    }
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(vestra::fprintf(f, "%s", "x"), 1);
    EXPECT_EQ(vestra::fclose(f), 0);
    EXPECT_EQ(Get(c.hostRelative), "x");
  }
  EXPECT_FALSE(fs::exists(root_.path() / "escape.txt"));
  EXPECT_FALSE(Get("TOP2.TXT").has_value());
}

TEST_F(CardTest, LinksInsideTheCardDoNotLeadOutOfIt) {
  fs::create_directories(root_.path() / "outside");
  WriteFile(root_.path() / "outside" / "SECRET", "host file");
  fs::create_directory_symlink(root_.path() / "outside", card_ / "SYSTEM" / "LINK");
  fs::create_symlink(root_.path() / "outside" / "NEW", card_ / "SYSTEM" / "DANGLING");
  Start();
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/LINK/SECRET", "r"), nullptr);
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/LINK/MADE", "w"), nullptr);
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/DANGLING", "w"), nullptr);
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM/LINK/SECRET", 0, 0), 0);
  EXPECT_NE(vestra::remove("/B/SYSTEM/LINK/SECRET"), 0);
  EXPECT_EQ(ReadFile(root_.path() / "outside" / "SECRET"), "host file");
  EXPECT_FALSE(fs::exists(root_.path() / "outside" / "MADE"));
  EXPECT_FALSE(fs::exists(root_.path() / "outside" / "NEW"));
}

// A fifo in the card folder is a file the camera cannot open, in any mode, and opening it never waits.
TEST_F(CardTest, AFifoIsAFileTheCameraCannotOpen) {
  const fs::path fifo = card_ / "SYSTEM" / "UPDATE.CRS";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  // Held open for reading and writing, so that an open the card let through would not block this test.
  const int held = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(held, 0);
  Start();
  for (const char* mode : {"r", "r+", "w", "a", "a+"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(vestra::fopen("/B/SYSTEM/UPDATE.CRS", mode), nullptr);
  }
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM/UPDATE.CRS", 0, 0), 0);
  ::close(held);
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
}

TEST_P(EitherCardTest, DirectoryEntriesComeSortedWithoutDotEntries) {
  for (const char* name : {"b.BIN", "UPDATE.CAM", "QR40z.BIN", "QR401.BIN", "A.BIN", "SUB/INNER"}) {
    Put(std::string("SYSTEM/") + name, "");
  }
  MakeFolder("SYSTEM.OLD/EMPTY");
  Start();
  vestra::DIR* dir = vestra::opendir("/B/SYSTEM/");
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> names;
  while (vestra::dirent* e = vestra::readdir(dir)) names.emplace_back(e->d_name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"A.BIN", "QR401.BIN", "QR40z.BIN", "SUB", "UPDATE.CAM", "b.BIN"}));
  EXPECT_EQ(vestra::readdir(dir), nullptr);
  EXPECT_EQ(vestra::closedir(dir), 0);
  EXPECT_EQ(camera_->card().OpenCount(), 0);
  EXPECT_EQ(vestra::opendir("/B/NOWHERE/"), nullptr);
  EXPECT_EQ(vestra::opendir("/B/SYSTEM/UPDATE.CAM"), nullptr);
  EXPECT_NE(vestra::remove("/B/SYSTEM/SUB"), 0) << "folders are not removed";
  EXPECT_NE(vestra::remove("/B/SYSTEM.OLD/EMPTY"), 0);
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM/SUB", 0, 0), 0);
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/SUB", "w"), nullptr);
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/SUB", "r"), nullptr);
  EXPECT_EQ(camera_->card().OpenCount(), 0);
}

// What a descriptor and a stream see: modes, positions, appending, and a file taken away while open.
TEST_P(EitherCardTest, FilesKeepTheirBytesAndPositionsThroughEveryMode) {
  Put("SYSTEM/DATA", "0123456789");
  Start();
  const std::int32_t fd = vestra::FSOpen("/B/SYSTEM/DATA", 0, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(vestra::lseek(fd, 0, 2), 10);
  EXPECT_EQ(vestra::lseek(fd, -4, 1), 6);
  EXPECT_EQ(vestra::lseek(fd, -1, 0), -1);
  EXPECT_TRUE(camera_->card().RemoveRelative("SYSTEM/DATA"));  // as a key script takes it away
  EXPECT_FALSE(Get("SYSTEM/DATA").has_value());
  char bytes[8] = {};
  EXPECT_EQ(vestra::read(fd, bytes, sizeof bytes), 4) << "an open file stays readable";
  EXPECT_EQ(std::string(bytes, 4), "6789");
  EXPECT_EQ(vestra::FSClose(fd), 0);
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM/DATA", 0, 0), 0);
  EXPECT_GE(vestra::FSOpen("/B/SYSTEM/MADE", vestra::kOpenWriteOnly | vestra::kOpenCreate, 0), 0);
  EXPECT_EQ(Get("SYSTEM/MADE"), "");

  auto write = [](const char* mode, const char* text) {
    vestra::FILE* f = vestra::fopen("/B/SYSTEM/S", mode);
    if (f == nullptr) return false;
    vestra::fwrite(text, 1, static_cast<std::uint32_t>(std::strlen(text)), f);
    return vestra::fclose(f) == 0;
  };
  EXPECT_FALSE(write("r+", "no")) << "r+ does not create";
  EXPECT_TRUE(write("w", "abcdef"));
  EXPECT_TRUE(write("a", "gh"));
  EXPECT_TRUE(write("r+b", "AB"));
  EXPECT_EQ(Get("SYSTEM/S"), "ABcdefgh");
  vestra::FILE* f = vestra::fopen("/B/SYSTEM/S", "a+");
  ASSERT_NE(f, nullptr);
  char three[3];
  EXPECT_EQ(vestra::fread(three, 3, 1, f), 1u);
  EXPECT_EQ(vestra::fseek(f, 0, 0), 0);
  vestra::fwrite("Z", 1, 1, f);
  EXPECT_EQ(vestra::fseek(f, 6, 0), 0);
  EXPECT_EQ(vestra::fread(three, 2, 2, f), 1u) << "whole items only";
  EXPECT_EQ(vestra::fclose(f), 0);
  EXPECT_EQ(Get("SYSTEM/S"), "ABcdefghZ");
  f = vestra::fopen("/B/SYSTEM/S", "w");
  EXPECT_EQ(vestra::fread(three, 1, 1, f), 0u) << "not readable";
  vestra::fclose(f);
  EXPECT_EQ(Get("SYSTEM/S"), "");
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/S", "x"), nullptr);
}

TEST_P(EitherCardTest, LogLinesAreKeptPerLineAndSurviveTheFilesRemoval) {
  Start();
  auto append = [](const char* text) {
    vestra::FILE* f = vestra::fopen("/B/SYSTEM/UPDATE.LOG", "a");
    ASSERT_NE(f, nullptr);
    vestra::fprintf(f, "%s", text);
    vestra::fclose(f);
  };
  append("missing QR40nnn.BIN\r\n");
  append("");
  append("\r\n");
  append("first half, ");
  append("second half\r\nnot finished");
  vestra::FILE* other = vestra::fopen("/B/SYSTEM/OTHER.LOG", "w");
  vestra::fprintf(other, "elsewhere\r\n");
  vestra::fclose(other);
  EXPECT_EQ(vestra::remove("/B/SYSTEM/UPDATE.LOG"), 0);
  EXPECT_FALSE(Get("SYSTEM/UPDATE.LOG").has_value());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"missing QR40nnn.BIN", "", "first half, second half"}));
}

// A read-only file reads ahead on the host: reads of every size around the window's, between seeks from each
// origin, must return what a plain file returns. The model is the file's bytes and a position.
TEST_P(EitherCardTest, ReadsAndSeeksOfEverySizeMatchAModelOfTheFile) {
  std::string bytes(150000, '\0');
  std::mt19937 random(7);
  for (char& b : bytes) b = static_cast<char>(random());
  Put("SYSTEM/DATA", bytes);
  Start();
  const std::int32_t fd = vestra::FSOpen("/B/SYSTEM/DATA", 0, 0);
  ASSERT_GE(fd, 0);
  const auto size = static_cast<std::int64_t>(bytes.size());
  const std::uint32_t reads[] = {1, 2, 1023, 1024, 1025, 32767, 32768, 32769, 65536, 70000};
  const std::int32_t seeks[][2] = {
      {0, 0},  {1, 1},  {-1, 1},     {-5000, 1},  {40000, 1},   {-1, 2},      {0, 2},     {-70000, 2},
      {10, 2}, {-1, 0}, {149999, 0}, {200000, 0}, {-200000, 1}, {-200000, 2}, {32768, 0}, {32767, 0}};
  std::int64_t position = 0;
  std::vector<char> got(70000 + 16);
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step << " at " << position);
    if (random() % 3 == 0) {
      const auto& [offset, whence] = seeks[random() % std::size(seeks)];
      const std::int64_t base = whence == 0 ? 0 : whence == 1 ? position : size;
      const std::int64_t to = base + offset;
      ASSERT_EQ(vestra::lseek(fd, offset, whence), to < 0 ? -1 : to) << offset << " from " << whence;
      if (to >= 0) position = to;
      continue;
    }
    const std::uint32_t count = random() % 4 == 0 ? 1 + random() % 70000 : reads[random() % std::size(reads)];
    const std::int64_t expected = std::clamp<std::int64_t>(size - position, 0, count);
    std::fill(got.begin(), got.end(), '\x5A');
    ASSERT_EQ(vestra::read(fd, got.data(), count), expected) << count << " bytes";
    ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, bytes.begin() + position))
        << count << " bytes";
    ASSERT_EQ(got[expected], '\x5A') << "wrote past what it read";
    position += expected;
  }
  EXPECT_EQ(vestra::FSClose(fd), 0);
}

// Put again or made again after removal, a file reuses its memory, but never memory a handle still reads.
TEST_F(CardTest, AMemoryFileReplacedWhileOpenKeepsTheOpenHandlesBytes) {
  auto memory = std::make_shared<sim::MemoryCard>();
  storage_ = memory;
  memory->Put("SYSTEM/A", "first");
  Start();
  const auto readAll = [](std::int32_t fd) {
    char buffer[16] = {};
    const std::int32_t n = vestra::read(fd, buffer, sizeof buffer);
    return std::string(buffer, n < 0 ? 0 : static_cast<std::size_t>(n));
  };
  const std::int32_t first = vestra::FSOpen("/B/SYSTEM/A", 0, 0);
  memory->Put("SYSTEM/A", "second");
  EXPECT_EQ(readAll(first), "first");
  const std::int32_t second = vestra::FSOpen("/B/SYSTEM/A", 0, 0);
  EXPECT_TRUE(camera_->card().RemoveRelative("SYSTEM/A"));
  memory->Put("SYSTEM/A", "third");                        // made again from the removed entry
  vestra::FILE* made = vestra::fopen("/B/SYSTEM/B", "w");  // a new file while the removed one is open
  vestra::fprintf(made, "made");
  EXPECT_EQ(readAll(second), "second");
  EXPECT_EQ(vestra::FSClose(first), 0);
  EXPECT_EQ(vestra::FSClose(second), 0);
  EXPECT_EQ(vestra::fclose(made), 0);
  memory->Put("SYSTEM/A", "4th");  // nobody reads the old bytes any more: replaced where they are
  EXPECT_EQ(memory->Get("SYSTEM/A"), "4th");
  EXPECT_EQ(memory->Get("SYSTEM/B"), "made");
}

// A lent file reads as the lender's bytes; whatever the camera writes goes to a copy of its own, and the
// lender's bytes stay as they were.
TEST_F(CardTest, ALentFileIsCopiedOnItsFirstChangeAndTheLendersBytesStay) {
  auto memory = std::make_shared<sim::MemoryCard>();
  storage_ = memory;
  const std::string lender = "lent bytes";
  const struct {
    const char* what;
    const char* mode;
    const char* write;
    const char* after;
  } rows[] = {
      {"read only", "r", "", "lent bytes"},
      {"appended", "a", "!", "lent bytes!"},
      {"overwritten at the start", "r+", "LENT", "LENT bytes"},
      {"truncated", "w", "new", "new"},
  };
  for (const auto& row : rows) {
    memory->Lend("SYSTEM/A", lender);
    Start();
    vestra::FILE* reader = vestra::fopen("/B/SYSTEM/A", "r");
    vestra::FILE* writer = vestra::fopen("/B/SYSTEM/A", row.mode);
    ASSERT_NE(writer, nullptr) << row.what;
    vestra::fwrite(row.write, 1, std::strlen(row.write), writer);
    char read[32] = {};
    vestra::fread(read, 1, sizeof read - 1, reader);
    EXPECT_EQ(std::string(read), row.after) << row.what << ": a reader sees the file as it now is";
    EXPECT_EQ(vestra::fclose(writer), 0);
    EXPECT_EQ(vestra::fclose(reader), 0);
    EXPECT_EQ(memory->Get("SYSTEM/A"), row.after) << row.what;
    EXPECT_EQ(lender, "lent bytes") << row.what;
  }
}

// Each spelling of a path is normalised once and kept, but whether it stays on the card is asked every time.
TEST_F(CardTest, AKeptSpellingIsCheckedAgainstTheCardOnEveryUse) {
  fs::create_directories(root_.path() / "outside");
  WriteFile(root_.path() / "outside" / "SECRET", "host file");
  WriteFile(card_ / "SYSTEM" / "DATA", "data");
  Start();
  EXPECT_TRUE(camera_->card().Reaches("/B/SYSTEM/LINK/SECRET")) << "nothing there yet, and no link";
  fs::create_directory_symlink(root_.path() / "outside", card_ / "SYSTEM" / "LINK");
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/LINK/SECRET", "r"), nullptr);
  EXPECT_FALSE(camera_->card().Reaches("/B/SYSTEM/LINK/SECRET"));
  // More spellings than are kept, each twice: the same file every time.
  for (int round = 0; round < 2; ++round) {
    for (int slashes = 1; slashes < 200; ++slashes) {
      const std::string path = "/B/SYSTEM" + std::string(slashes, '/') + "DATA";
      vestra::FILE* f = vestra::fopen(path.c_str(), "r");
      ASSERT_NE(f, nullptr) << path;
      char four[4];
      EXPECT_EQ(vestra::fread(four, 4, 1, f), 1u);
      EXPECT_EQ(std::string(four, 4), "data");
      EXPECT_EQ(vestra::fclose(f), 0);
    }
  }
}

TEST_P(EitherCardTest, CardAccessWithInterruptsLockedIsCountedAsAFault) {
  Put("SYSTEM/DATA", "x");
  Start();
  vestra::FILE* f = vestra::fopen("/B/SYSTEM/DATA", "r");
  EXPECT_EQ(camera_->faultsInsideLock, 0);
  const std::int32_t key = vestra::intLock();
  char c;
  vestra::fread(&c, 1, 1, f);
  vestra::intUnlock(key);
  vestra::fclose(f);
  EXPECT_EQ(camera_->faultsInsideLock, 1);
}

}  // namespace
