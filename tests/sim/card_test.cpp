// Drive B: what the module can reach on the card, and how files behave through the platform's calls.
#include "sim/card.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel.h"
#include "sim_fixture.h"

namespace {

using sim_test::CameraTest;
using sim_test::ReadFile;
using sim_test::WriteFile;
namespace fs = std::filesystem;

class CardTest : public CameraTest {};

struct PathCase {
  const char* path;
  const char* hostRelative;  // null: refused
};

TEST_F(CardTest, OnlyPathsUnderDriveBReachTheCardAndNoneLeaveIt) {
  const PathCase cases[] = {
      {"/B/SYSTEM/NEW.TXT", "SYSTEM/NEW.TXT"},
      {"/B/./SYSTEM//DOT.TXT", "SYSTEM/DOT.TXT"},
      {"/B/TOP.TXT", "TOP.TXT"},
      {"/B/../escape.txt", nullptr},
      {"/B/SYSTEM/../../escape.txt", nullptr},
      {"/B/SYSTEM/../TOP2.TXT", nullptr},  // never climbs, even when it would stay inside
      {"/C/SYSTEM/X.TXT", nullptr},
      {"B/SYSTEM/X.TXT", nullptr},
      {"/BSYSTEM/X.TXT", nullptr},
      {"SYSTEM/X.TXT", nullptr},
      {"", nullptr},
  };
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    vestra::FILE* f = vestra::fopen(c.path, "w");
    if (c.hostRelative == nullptr) {
      EXPECT_EQ(f, nullptr);
      EXPECT_FALSE(camera_->card().HostPath(c.path).has_value());
      continue;
    }
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(vestra::fprintf(f, "%s", "x"), 1);
    EXPECT_EQ(vestra::fclose(f), 0);
    EXPECT_EQ(ReadFile(card_ / c.hostRelative), "x");
  }
  EXPECT_FALSE(fs::exists(root_.path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(card_ / "TOP2.TXT"));
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

TEST_F(CardTest, DirectoryEntriesComeSortedWithoutDotEntries) {
  for (const char* name : {"b.BIN", "UPDATE.CAM", "QR40z.BIN", "QR401.BIN", "A.BIN"}) {
    WriteFile(card_ / "SYSTEM" / name, "");
  }
  fs::create_directory(card_ / "SYSTEM" / "SUB");
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
}

struct StreamCase {
  const char* mode;
  const char* before;  // null: no file
  const char* written;
  bool opens;
  bool writes;
  const char* after;  // null: no file
};

TEST_F(CardTest, StreamModesCreateTruncateAppendAndRefuseAsStdioDoes) {
  const StreamCase cases[] = {
      {"w", "old", "new", true, true, "new"},
      {"wb", nullptr, "new", true, true, "new"},
      {"a", "old\r\n", "more", true, true, "old\r\nmore"},
      {"ab", nullptr, "first", true, true, "first"},
      {"r", "old", "new", true, false, "old"},
      {"rb", nullptr, "new", false, false, nullptr},
      {"r+", "old", "N", true, true, "Nld"},
      {"a+", "old", "!", true, true, "old!"},
      {"x", "old", "new", false, false, "old"},
      {"rw", "old", "new", false, false, "old"},
      {"", "old", "new", false, false, "old"},
      {"wbb", "old", "new", false, false, "old"},
  };
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const fs::path host = card_ / "SYSTEM" / "F.TXT";
    fs::remove(host);
    if (c.before != nullptr) WriteFile(host, c.before);
    vestra::FILE* f = vestra::fopen("/B/SYSTEM/F.TXT", c.mode);
    ASSERT_EQ(f != nullptr, c.opens);
    if (f != nullptr) {
      const std::string text = c.written;
      EXPECT_EQ(vestra::fwrite(text.data(), 1, static_cast<std::uint32_t>(text.size()), f),
                c.writes ? text.size() : 0u);
      EXPECT_EQ(vestra::fclose(f), 0);
    }
    if (c.after == nullptr) {
      EXPECT_FALSE(fs::exists(host));
    } else {
      EXPECT_EQ(ReadFile(host), c.after);
    }
  }
  EXPECT_EQ(vestra::fclose(nullptr), vestra::kEOF);
}

TEST_F(CardTest, StreamsReadAndSeekWithinTheFile) {
  WriteFile(card_ / "SYSTEM" / "DATA", "0123456789");
  Start();
  vestra::FILE* f = vestra::fopen("/B/SYSTEM/DATA", "rb");
  ASSERT_NE(f, nullptr);
  char buf[8] = {};
  EXPECT_EQ(vestra::fseek(f, -3, 2), 0);
  EXPECT_EQ(vestra::fread(buf, 1, 8, f), 3u);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(vestra::fseek(f, 2, 0), 0);
  EXPECT_EQ(vestra::fread(buf, 2, 2, f), 2u);
  EXPECT_EQ(std::string(buf, 4), "2345");
  EXPECT_EQ(vestra::fseek(f, 0, 3), -1);
  EXPECT_EQ(vestra::fread(buf, 0xFFFF, 0x10001, f), 0u);  // more than the camera can count
  EXPECT_EQ(vestra::fclose(f), 0);
  EXPECT_EQ(vestra::fclose(f), vestra::kEOF);  // a closed stream is not closed twice
}

TEST_F(CardTest, DescriptorsReadAndSeekFromStartCurrentAndEnd) {
  WriteFile(card_ / "SYSTEM" / "DATA", "abcdefghij");
  Start();
  const std::int32_t fd = vestra::FSOpen("/B/SYSTEM/DATA", 0, 0);
  ASSERT_GE(fd, 0);
  char buf[16] = {};
  EXPECT_EQ(vestra::read(fd, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(vestra::lseek(fd, 2, 1), 6);
  EXPECT_EQ(vestra::lseek(fd, -1, 2), 9);
  EXPECT_EQ(vestra::read(fd, buf, 16), 1);
  EXPECT_EQ(buf[0], 'j');
  EXPECT_EQ(vestra::read(fd, buf, 16), 0);
  EXPECT_EQ(vestra::lseek(fd, 3, 0), 3);
  EXPECT_EQ(vestra::lseek(fd, -20, 1), -1);
  EXPECT_EQ(vestra::lseek(fd, 0, 7), -1);
  EXPECT_EQ(vestra::FSClose(fd), 0);
  EXPECT_LT(vestra::read(fd, buf, 1), 0);
  EXPECT_LT(vestra::FSClose(fd), 0);
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM/MISSING", 0, 0), 0);
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM", 0, 0), 0);
}

TEST_F(CardTest, OpenFilesAreLimitedAndCounted) {
  WriteFile(card_ / "SYSTEM" / "DATA", "x");
  Start();
  std::vector<std::int32_t> fds;
  for (int i = 0; i < sim::kMaxOpenFiles; ++i) fds.push_back(vestra::FSOpen("/B/SYSTEM/DATA", 0, 0));
  for (std::int32_t fd : fds) EXPECT_GE(fd, 0);
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM/DATA", 0, 0), 0);
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/DATA", "r"), nullptr);
  EXPECT_EQ(camera_->card().OpenCount(), sim::kMaxOpenFiles);
  for (std::int32_t fd : fds) vestra::FSClose(fd);
  EXPECT_EQ(camera_->card().OpenCount(), 0);
}

TEST_F(CardTest, LogLinesAreKeptPerLineAndSurviveTheFilesRemoval) {
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
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.LOG"));
  EXPECT_EQ(camera_->card().LogLines(),
            (std::vector<std::string>{"missing QR40nnn.BIN", "", "first half, second half"}));
}

TEST_F(CardTest, RemoveDeletesFilesOnlyAndReportsFailure) {
  WriteFile(card_ / "SYSTEM" / "UPDATE.CAM", "x");
  Start();
  EXPECT_EQ(vestra::remove("/B/SYSTEM/UPDATE.CAM"), 0);
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.CAM"));
  EXPECT_NE(vestra::remove("/B/SYSTEM/UPDATE.CAM"), 0);
  EXPECT_NE(vestra::remove("/B/SYSTEM"), 0);
  EXPECT_TRUE(fs::is_directory(card_ / "SYSTEM"));
}

TEST_F(CardTest, AMissingDriveAnswersNoAndOpensNothing) {
  WriteFile(card_ / "SYSTEM" / "DATA", "x");
  sim::Profile profile;
  Start(profile);
  EXPECT_NE(vestra::FSDiskDriveAvailable(2) & 0xFF, 0);
  EXPECT_EQ(vestra::FSDiskDriveAvailable(1) & 0xFF, 0);
  profile.platform.driveAvailable = false;
  Start(profile);
  EXPECT_EQ(vestra::FSDiskDriveAvailable(2) & 0xFF, 0);
  EXPECT_EQ(vestra::fopen("/B/SYSTEM/DATA", "r"), nullptr);
  EXPECT_EQ(vestra::opendir("/B/SYSTEM/"), nullptr);
  EXPECT_LT(vestra::FSOpen("/B/SYSTEM/DATA", 0, 0), 0);
}

TEST_F(CardTest, CardAccessWithInterruptsLockedIsCountedAsAFault) {
  WriteFile(card_ / "SYSTEM" / "DATA", "x");
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
