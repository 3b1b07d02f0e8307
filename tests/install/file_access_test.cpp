// The file access layer on the simulated card.
#include "install/file_access.h"

#include <gtest/gtest.h>

#include "tests/install/install_fixture.h"

namespace {

class FileAccess : public vestra_test::InstallTest {
 protected:
  void SetUp() override { Start(vestra_test::TestImage(4)); }
};

TEST_F(FileAccess, OpenModes) {
  vestra::FILE* stream = reinterpret_cast<vestra::FILE*>(&stream);
  EXPECT_EQ(open_f(&stream, "/B/SYSTEM/NEW.BIN", 2), -1);
  EXPECT_EQ(stream, nullptr);
  EXPECT_FALSE(OnCard("NEW.BIN")) << "an unknown mode touches nothing";

  EXPECT_EQ(open_f(&stream, "/B/SYSTEM/NEW.BIN", kOpenRead), -1);
  EXPECT_EQ(stream, nullptr);

  WriteCardFile("OLD.BIN", {1, 2, 3});
  ASSERT_EQ(open_f(&stream, "/B/SYSTEM/OLD.BIN", kOpenWrite), 0);
  EXPECT_EQ(write_f(stream, "ab", 0), 0);
  EXPECT_EQ(close_f(stream), 0);
  EXPECT_EQ(std::filesystem::file_size(card_ / "SYSTEM" / "OLD.BIN"), 0u) << "writing empties the file";
}

TEST_F(FileAccess, ReadsShowTheEndOnlyAsAShortCount) {
  WriteCardFile("DATA.BIN", {1, 2, 3, 4, 5});
  vestra::FILE* stream = nullptr;
  ASSERT_EQ(open_f(&stream, "/B/SYSTEM/DATA.BIN", kOpenRead), 0);
  std::uint8_t buffer[8] = {};
  std::uint32_t got = 99;
  EXPECT_EQ(read_f(stream, buffer, 3, &got), 0);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(read_f(stream, buffer, 8, &got), 0);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buffer[1], 5);
  EXPECT_EQ(read_f(stream, buffer, 8, &got), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(write_f(stream, buffer, 2), -1) << "a read stream takes no bytes";
  EXPECT_EQ(close_f(stream), 0);
  EXPECT_EQ(create_f("/B/SYSTEM/X", 0, 0), 0);
  EXPECT_EQ(remove_f("/B/SYSTEM/DATA.BIN"), 0);
  EXPECT_TRUE(OnCard("DATA.BIN"));
}

}  // namespace
