#include "app/strings.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/font_utf8.h"

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
    SCOPED_TRACE(testing::Message() << "region " << c.region);
    EXPECT_EQ(GetRgnFontNum(c.region), c.font);
    for (std::int16_t row = 0; row < kUIStringCount; ++row) {
      EXPECT_EQ(GetRgnString(c.region, row, nullptr), c.table[row].text);
      // The lookup takes its font from the region; every row must agree with it.
      EXPECT_EQ(c.table[row].font, c.font);
    }
  }
}

TEST(StringsTest, RowsAreCopiedAndRowsOutsideTheTableRefused) {
  const struct {
    std::int16_t region, row;
    const char* result;  // null: refused
    const char* copied;
  } cases[] = {
      {1, kStrVersion, "Version ", "Version "},
      {1, kStrNone, "", ""},
      {1, kUIStringCount, nullptr, "Invalid string index."},
      {8, -1, nullptr, "Invalid string index."},
      {1, 1000, nullptr, "Invalid string index."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "region " << c.region << " row " << c.row);
    char buffer[64] = "stale";
    const char* result = GetRgnString(c.region, c.row, buffer);
    EXPECT_EQ(result == nullptr, c.result == nullptr);
    if (c.result != nullptr) {
      EXPECT_STREQ(result, c.result);
    }
    EXPECT_STREQ(buffer, c.copied);
    EXPECT_EQ(GetRgnString(c.region, c.row, nullptr) == nullptr, c.result == nullptr);
  }
}

// Labels are copied into 32-byte fields and every row reaches a fixed-size buffer somewhere.
TEST(StringsTest, EveryRowFitsItsFieldsAndIsValidUtf8) {
  for (const UIStringEntry* table : {gLUIEnglish, gLUIJapanese}) {
    for (int row = 0; row < kUIStringCount; ++row) {
      const std::string text = table[row].text;
      EXPECT_EQ(text.empty(), row == kStrNone) << row;
      EXPECT_LT(text.size(), row <= kStrShutdown ? 32u : 64u) << row;
      const auto bytes = reinterpret_cast<const unsigned char*>(text.data());
      EXPECT_EQ(sim::DecodeUtf8(bytes, text.size()).find(U'\uFFFD'), std::u32string::npos) << row;
    }
  }
  // A version text follows these two directly.
  EXPECT_EQ(std::string(gLUIEnglish[kStrVersion].text).back(), ' ');
  EXPECT_EQ(std::string(gLUIEnglish[kStrUpdateToVersion].text).back(), ' ');
}

}  // namespace
