// What each screen writes: font, position, text and colour of every line, in both regions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/strings.h"
#include "package/file_set.h"
#include "panels/panels.h"
#include "tests/panels/screen_fixture.h"

namespace {

using vestra_test::AsYcc;

constexpr std::int16_t kRegionFont = 0;  // the camera's font: 2, or 30 in Japan

// A table line, centred in the content area's width.
struct Line {
  std::int16_t font;
  std::int16_t size;
  std::int16_t v;
  std::int16_t row;
  const char* english;
  const GXColor* colour;
};

struct PanelCase {
  int panel;
  std::int16_t errCode;
  std::vector<Line> lines;
};

class PanelText : public vestra_test::ScreenTest {
 protected:
  std::int16_t FontOf(std::int16_t font) const { return font == kRegionFont ? gFontNum : font; }

  std::int16_t Width(std::int16_t font, std::int16_t size, const std::string& text) {
    vestra::GMTextFont(font, size);
    return vestra::GMTextWidth(text.c_str(), 0, static_cast<std::int16_t>(text.size()));
  }

  // The texts drawn so far, leaving out empty ones (they show nothing).
  std::vector<sim::TextRecord> Drawn() {
    std::vector<sim::TextRecord> drawn;
    for (const sim::TextRecord& record : graphics().texts()) {
      if (!record.text.empty()) drawn.push_back(record);
    }
    return drawn;
  }

  void ExpectText(const sim::TextRecord& record, std::int16_t font, std::int16_t size, std::int16_t h,
                  std::int16_t v, const std::string& text, const GXColor* colour) {
    EXPECT_EQ(record.text, text);
    EXPECT_EQ(record.font, font) << text;
    EXPECT_EQ(record.size, size) << text;
    EXPECT_EQ(record.h, h) << text;
    EXPECT_EQ(record.v, v) << text;
    EXPECT_EQ(record.colour, AsYcc(*colour)) << text;
  }
};

const std::vector<PanelCase>& TableCases() {
  static const std::vector<PanelCase> cases = {
      {2,
       0,
       {{kRegionFont, 24, 37, 18, "End User", &gWhite},
        {kRegionFont, 24, 65, 19, "License Agreement", &gWhite},
        {kRegionFont, 18, 105, 20, "By pressing AGREE you", &gWhite},
        {kRegionFont, 18, 130, 21, "agree to follow the terms", &gWhite},
        {kRegionFont, 18, 155, 22, "of your camera software", &gWhite},
        {kRegionFont, 18, 180, 23, "license agreement.", &gWhite}}},
      {3,
       0,
       {{kRegionFont, 24, 52, 27, "WARNING", &gWhite},
        {kRegionFont, 18, 102, 24, "Do not turn off your", &gYellow},
        {kRegionFont, 18, 132, 25, "camera during the", &gYellow},
        {kRegionFont, 18, 162, 26, "update process!", &gYellow}}},
      {5,
       0,
       {{kRegionFont, 18, 72, 33, "Firmware update", &gWhite},
        {kRegionFont, 18, 102, 34, "successful!", &gWhite},
        {kRegionFont, 18, 142, 35, "Turn power Off", &gYellow},
        {kRegionFont, 18, 172, 36, "before next use.", &gYellow}}},
      {6,
       0,
       {{kRegionFont, 24, 92, 37, "Update process cancelled.", &gYellow},
        {kRegionFont, 18, 132, 38, "No changes have", &gWhite},
        {kRegionFont, 18, 162, 39, "been made.", &gWhite}}},
      {7,
       0,
       {{kRegionFont, 24, 92, 37, "Update process cancelled.", &gWhite},
        {kRegionFont, 18, 132, 40, "Not enough battery power", &gWhite},
        {kRegionFont, 18, 162, 41, "to perform update.", &gWhite}}},
      {8,
       kErrMissing,
       {{kRegionFont, 24, 92, 37, "Update process cancelled.", &gWhite},
        {kRegionFont, 18, 132, 46, "Some update files", &gWhite},
        {kRegionFont, 18, 162, 47, "are missing.", &gWhite}}},
      {8,
       kErrCorrupt,
       {{kRegionFont, 24, 92, 37, "Update process cancelled.", &gWhite},
        {kRegionFont, 18, 132, 44, "Update files", &gWhite},
        {kRegionFont, 18, 162, 45, "are corrupt.", &gWhite}}},
      {8,
       kErrIncompatible,
       {{kRegionFont, 24, 92, 37, "Update process cancelled.", &gWhite},
        {kRegionFont, 18, 132, 42, "Camera incompatible", &gWhite},
        {kRegionFont, 18, 162, 43, "with firmware update.", &gWhite}}},
      {8,
       kErrNone,
       {{kRegionFont, 24, 92, 37, "Update process cancelled.", &gWhite},
        {kRegionFont, 18, 132, 42, "Camera incompatible", &gWhite},
        {kRegionFont, 18, 162, 43, "with firmware update.", &gWhite}}},
  };
  return cases;
}

TEST_F(PanelText, TableLinesCentredInTheCameraLanguage) {
  for (std::uint32_t region : {1u, 8u}) {
    Start({.region = region});
    for (const PanelCase& c : TableCases()) {
      SCOPED_TRACE(testing::Message()
                   << "region " << region << " panel " << c.panel << " gErrCode " << c.errCode);
      graphics().clearRecords();
      gErrCode = c.errCode;
      DrawPanel(c.panel);
      const std::vector<sim::TextRecord> drawn = Drawn();
      ASSERT_EQ(drawn.size(), c.lines.size());
      for (std::size_t i = 0; i < drawn.size(); ++i) {
        const Line& line = c.lines[i];
        const std::string text = region == 8 ? GetRgnString(8, line.row, nullptr) : line.english;
        const std::int16_t font = FontOf(line.font);
        const auto h = static_cast<std::int16_t>((288 - 5 - Width(font, line.size, text)) >> 1);
        ExpectText(drawn[i], font, line.size, h, line.v, text, line.colour);
      }
    }
  }
}

TEST_F(PanelText, SplashKeepsTheMakerInEnglishAndFollowsInstallerWithTheVersion) {
  struct Case {
    std::uint32_t region;
    std::int16_t installerFont;
    const char* version;
  };
  for (const Case c : {Case{1, 2, "1.0"}, Case{8, 30, "1.0J"}}) {
    SCOPED_TRACE(testing::Message() << "region " << c.region);
    Start({.region = c.region});
    DrawPanel(0);
    const std::vector<sim::TextRecord> drawn = Drawn();
    ASSERT_EQ(drawn.size(), 6u);
    const std::string installer = GetRgnString(static_cast<std::int16_t>(c.region), 13, nullptr);
    const std::string copyright = GetRgnString(1, 14, nullptr);
    const std::int16_t w = Width(c.installerFont, 24, installer);
    const auto copyrightH = static_cast<std::int16_t>((283 - Width(2, 18, copyright)) >> 1);
    ExpectText(drawn[0], 2, 18, 10, 30, "Vornatique Technology", &gWhite);
    ExpectText(drawn[1], 2, 18, 25, 55, "presents", &gYellow);
    ExpectText(drawn[2], 2, 24, 130, 115, "Vestra", &gWhite);
    ExpectText(drawn[3], c.installerFont, 24, 130, 145, installer, &gYellow);
    ExpectText(drawn[4], 2, 24, static_cast<std::int16_t>(135 + w), 145, c.version, &gYellow);
    ExpectText(drawn[5], 2, 18, copyrightH, 185, copyright, &gWhite);
  }
}

TEST_F(PanelText, VersionConfirmationLines) {
  struct Case {
    std::uint32_t region;
    const char* debugText;
    std::int16_t labelFont;  // of the new version line
    const char* current;
    const char* next;
  };
  const Case cases[] = {
      {1, "", 2, "1.0", "1.2 ?"},
      {8, "", 30, "1.0J", "1.2J"},
      {1, "QA build 7", 2, "1.0", "QA build 7 ?"},
      {8, "QA build 7", 2, "1.0J", "QA build 7"},
      // A debug label filling its whole field still gets " ?" and is never read past the field.
      {1, "0123456789012345678901234567890", 2, "1.0", "0123456789012345678901234567890 ?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "region " << c.region << " debug '" << c.debugText << "'");
    Start({.region = c.region});
    gFile[0].fwVersion = 0x01020000;
    std::snprintf(gCam.debugText, sizeof gCam.debugText, "%s", c.debugText);
    const bool debug = c.debugText[0] != 0;
    const auto region = static_cast<std::int16_t>(c.region);
    DrawPanel(1);
    const std::vector<sim::TextRecord> drawn = Drawn();
    ASSERT_EQ(drawn.size(), 7u);

    const std::string heading = GetRgnString(region, 15, nullptr);
    ExpectText(drawn[0], gFontNum, 24, static_cast<std::int16_t>((283 - Width(gFontNum, 24, heading)) >> 1),
               49, heading, &gYellow);
    for (int i : {1, 2}) {
      const std::string name = i == 1 ? "Norvale Co., Ltd." : "Calyte QR";
      ExpectText(drawn[i], 2, 18, static_cast<std::int16_t>((283 - Width(2, 18, name)) >> 1),
                 i == 1 ? 84 : 112, name, &gWhite);
    }
    // Label and number centred as one line, without the 5-pixel correction.
    const std::string label1 = GetRgnString(region, 16, nullptr);
    const std::int16_t w1 = Width(gFontNum, 24, label1);
    const auto h1 = static_cast<std::int16_t>((288 - (w1 + Width(2, 24, c.current))) >> 1);
    ExpectText(drawn[3], gFontNum, 24, h1, 140, label1, &gWhite);
    ExpectText(drawn[4], 2, 24, static_cast<std::int16_t>(h1 + w1), 140, c.current, &gWhite);

    const std::string label2 = debug ? "Install " : GetRgnString(region, 17, nullptr);
    const std::int16_t w2 = Width(c.labelFont, 18, label2);
    const auto h2 = static_cast<std::int16_t>((288 - (w2 + Width(2, 18, c.next))) >> 1);
    ExpectText(drawn[5], c.labelFont, 18, h2, 176, label2, &gYellow);
    ExpectText(drawn[6], 2, 18, static_cast<std::int16_t>(h2 + w2), 176, c.next, &gYellow);
  }
}

TEST_F(PanelText, EmptyNamesLeaveTheirLinesBlankAndTheRestInPlace) {
  Start();
  std::memset(gCam.vendorName, 0, sizeof gCam.vendorName);
  std::memset(gCam.productName, 0, sizeof gCam.productName);
  DrawPanel(1);
  const std::vector<sim::TextRecord> drawn = Drawn();
  ASSERT_EQ(drawn.size(), 5u);
  EXPECT_EQ(drawn[0].v, 49);
  EXPECT_EQ(drawn[1].v, 140);
  EXPECT_EQ(drawn[3].v, 176);
}

}  // namespace
