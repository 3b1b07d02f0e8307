// Drive B: what the module can reach on the card, and how files behave through the platform's calls.
#include "sim/card.h"

#include <gtest/gtest.h>

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

struct PathCase {
  const char* path;
  const char* hostRelative;  // null: refused
};

TEST_F(CardTest, OnlyPathsUnderDriveBReachTheCardAndNoneLeaveIt) {
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
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"missing QR40nnn.BIN", "", "first half, second half"}));
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
