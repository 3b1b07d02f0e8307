#include "app/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(StringsTest, RegionChoosesTableAndFont) {
  struct Case {
    std::int16_t region;
    std::int16_t font;
    const UIStringEntry* table;
  };
  const Case cases[] = {{8, 30, gLUIJapanese}, {1, 2, gLUIEnglish},  {0, 2, gLUIEnglish},
                        {3, 2, gLUIEnglish},   {-8, 2, gLUIEnglish}, {0x108, 2, gLUIEnglish}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.region);
    EXPECT_EQ(GetRgnFontNum(c.region), c.font);
    for (std::int16_t row = 0; row < kUIStringCount; ++row) {
      EXPECT_EQ(GetRgnString(c.region, row, nullptr), c.table[row].text);
      // The lookup takes its font from the region; every row must agree with it.
      EXPECT_EQ(c.table[row].font, c.font);
      EXPECT_LT(std::strlen(c.table[row].text), kRowTextSize) << "row " << row << " overflows the screens' buffers";
    }
  }
}

TEST(StringsTest, RowsAreCopiedIntoTheDestination) {
  char buffer[64] = "stale";
  EXPECT_STREQ(GetRgnString(1, 16, buffer), "Version ");
  EXPECT_STREQ(buffer, "Version ");
  EXPECT_STREQ(GetRgnString(1, 0, buffer), "");
  EXPECT_STREQ(buffer, "");
  EXPECT_STREQ(GetRgnString(8, 0, nullptr), "");
}

TEST(StringsTest, RowsOutsideTheTableAreRefused) {
  for (std::int16_t row : {std::int16_t{48}, std::int16_t{-1}, std::int16_t{1000}}) {
    char buffer[64] = "";
    EXPECT_EQ(GetRgnString(1, row, buffer), nullptr) << row;
    EXPECT_STREQ(buffer, "Invalid string index.");
    EXPECT_EQ(GetRgnString(8, row, nullptr), nullptr);
  }
}

// Labels are copied into 32-byte fields and every row reaches a fixed-size buffer somewhere.
TEST(StringsTest, EveryRowFitsItsFieldsAndIsValidUtf8) {
  for (const UIStringEntry* table : {gLUIEnglish, gLUIJapanese}) {
    for (int row = 0; row < kUIStringCount; ++row) {
      const std::string text = table[row].text;
      EXPECT_EQ(text.empty(), row == 0) << row;
      EXPECT_LT(text.size(), row <= 9 ? 32u : 64u) << row;
      for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80    ? 1
                                   : lead >= 0xF0 ? 4
                                   : lead >= 0xE0 ? 3
                                   : lead >= 0xC0 ? 2
                                                  : 0;
        ASSERT_NE(length, 0u) << "row " << row;
        for (std::size_t k = 1; k < length; ++k) {
          ASSERT_LT(i + k, text.size()) << "row " << row;
          ASSERT_EQ(static_cast<unsigned char>(text[i + k]) & 0xC0, 0x80) << "row " << row;
        }
        i += length;
      }
    }
  }
  // A version text follows these two directly.
  EXPECT_EQ(std::string(gLUIEnglish[16].text).back(), ' ');
  EXPECT_EQ(std::string(gLUIEnglish[17].text).back(), ' ');
}

}  // namespace
