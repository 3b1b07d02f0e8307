// What each screen writes: font, position, text and colour of every line, in both regions.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/strings.h"
#include "package/file_set.h"
#include "panels/panels.h"
#include "tests/panels/screen_fixture.h"

namespace {

using vestra_test::AsYcc;

// A line of a table panel (drawn with gErrCode set) in the camera's font, centred in the content area's
// width: panel, gErrCode, size, baseline, row of the region's string table, English text and colour.
using Line =
    std::tuple<int, std::int16_t, std::int16_t, std::int16_t, std::int16_t, const char*, const GXColor*>;

const Line kLines[] = {
    {2, 0, 24, 37, 18, "End User", &gWhite},
    {2, 0, 24, 65, 19, "License Agreement", &gWhite},
    {2, 0, 18, 105, 20, "By pressing AGREE you", &gWhite},
    {2, 0, 18, 130, 21, "agree to follow the terms", &gWhite},
    {2, 0, 18, 155, 22, "of your camera software", &gWhite},
    {2, 0, 18, 180, 23, "license agreement.", &gWhite},
    {3, 0, 24, 52, 27, "WARNING", &gWhite},
    {3, 0, 18, 102, 24, "Do not turn off your", &gYellow},
    {3, 0, 18, 132, 25, "camera during the", &gYellow},
    {3, 0, 18, 162, 26, "update process!", &gYellow},
    {5, 0, 18, 72, 33, "Firmware update", &gWhite},
    {5, 0, 18, 102, 34, "successful!", &gWhite},
    {5, 0, 18, 142, 35, "Turn power Off", &gYellow},
    {5, 0, 18, 172, 36, "before next use.", &gYellow},
    {6, 0, 24, 92, 37, "Update process cancelled.", &gYellow},
    {6, 0, 18, 132, 38, "No changes have", &gWhite},
    {6, 0, 18, 162, 39, "been made.", &gWhite},
    {7, 0, 24, 92, 37, "Update process cancelled.", &gWhite},
    {7, 0, 18, 132, 40, "Not enough battery power", &gWhite},
    {7, 0, 18, 162, 41, "to perform update.", &gWhite},
    {8, kErrMissing, 24, 92, 37, "Update process cancelled.", &gWhite},
    {8, kErrMissing, 18, 132, 46, "Some update files", &gWhite},
    {8, kErrMissing, 18, 162, 47, "are missing.", &gWhite},
    {8, kErrCorrupt, 24, 92, 37, "Update process cancelled.", &gWhite},
    {8, kErrCorrupt, 18, 132, 44, "Update files", &gWhite},
    {8, kErrCorrupt, 18, 162, 45, "are corrupt.", &gWhite},
    {8, kErrIncompatible, 24, 92, 37, "Update process cancelled.", &gWhite},
    {8, kErrIncompatible, 18, 132, 42, "Camera incompatible", &gWhite},
    {8, kErrIncompatible, 18, 162, 43, "with firmware update.", &gWhite},
};

class PanelText : public vestra_test::ScreenTest {
 protected:
  // Where a text centred in the width less a correction starts.
  std::int16_t Centred(std::int16_t font, std::int16_t size, const std::string& text, int correction = 5) {
    return static_cast<std::int16_t>((288 - correction - Width(font, size, text)) >> 1);
  }
  // The named colours, as start-up fills them.
  const sim::Ycc white{128, 255, 128}, yellow{16, 225, 148};
};

TEST_F(PanelText, TableLinesCentredInTheCameraLanguage) {
  std::map<std::pair<int, std::int16_t>, std::vector<Line>> panels;
  for (const Line& line : kLines) panels[{std::get<0>(line), std::get<1>(line)}].push_back(line);
  panels[{8, kErrNone}] = panels[{8, kErrIncompatible}];  // without a known error: incompatible
  for (std::uint32_t region : {1u, 8u}) {
    Start({.region = region});
    for (const auto& [panel, lines] : panels) {
      SCOPED_TRACE(testing::Message() << "region " << region << " " << testing::PrintToString(panel));
      graphics().clearRecords();
      gErrCode = panel.second;
      DrawPanel(panel.first);
      std::vector<Text> expected;
      for (const auto& [p, e, size, v, row, english, colour] : lines) {
        const std::string text = region == 8 ? GetRgnString(8, row, nullptr) : english;
        expected.emplace_back(gFontNum, size, Centred(gFontNum, size, text), v, text, AsYcc(*colour));
      }
      EXPECT_EQ(Drawn(), expected);
    }
  }
}

TEST_F(PanelText, SplashKeepsTheMakerInEnglishFollowsInstallerWithTheVersionAndHasTheLargeLogo) {
  const std::tuple<std::int16_t, std::int16_t, const char*> cases[] = {{1, 2, "1.0"}, {8, 30, "1.0J"}};
  for (const auto& [region, installerFont, version] : cases) {
    SCOPED_TRACE(testing::Message() << "region " << region);
    Start({.region = static_cast<std::uint32_t>(region)});
    DrawPanel(0);
    const std::string installer = GetRgnString(region, 13, nullptr), copyright = GetRgnString(1, 14, nullptr);
    const auto versionH = static_cast<std::int16_t>(135 + Width(installerFont, 24, installer));
    EXPECT_EQ(Drawn(), (std::vector<Text>{{2, 18, 10, 30, "Vornatique Technology", white},
                                          {2, 18, 25, 55, "presents", yellow},
                                          {2, 24, 130, 115, "Vestra", white},
                                          {installerFont, 24, 130, 145, installer, yellow},
                                          {2, 24, versionH, 145, version, yellow},
                                          {2, 18, Centred(2, 18, copyright), 185, copyright, white}}));
    // The 75-pixel mark at (65, 50): 25-pixel squares; no icon.
    ExpectPixel(115, 50, gYellow, "yellow square's first pixel");
    ExpectPixel(65, 75, gBlue, "blue square's first pixel");
    ExpectPixel(90, 124, gRed, "red square's last row");
    ExpectPixel(3, 15, vestra_test::Rgb(0, 30, 0), "no small mark in the corner");
    EXPECT_TRUE(graphics().iconPlots().empty());
  }
}

TEST_F(PanelText, VersionConfirmationLinesWithAndWithoutADebugLabel) {
  // Region, debug label, the font of the new version's label, the current and the new version.
  const std::tuple<std::int16_t, const char*, std::int16_t, const char*, const char*> cases[] = {
      {1, "", 2, "1.0", "1.2 ?"},
      {8, "", 30, "1.0J", "1.2J"},
      {1, "QA build 7", 2, "1.0", "QA build 7 ?"},
      {8, "QA build 7", 2, "1.0J", "QA build 7"},
      // A debug label filling its whole field still gets " ?" and is never read past the field.
      {1, "0123456789012345678901234567890", 2, "1.0", "0123456789012345678901234567890 ?"},
  };
  for (const auto& [region, debugText, labelFont, current, next] : cases) {
    SCOPED_TRACE(testing::Message() << "region " << region << " debug '" << debugText << "'");
    Start({.region = static_cast<std::uint32_t>(region)});
    gFile[0].fwVersion = 0x01020000;
    std::snprintf(gCam.debugText, sizeof gCam.debugText, "%s", debugText);
    DrawPanel(1);
    const std::string heading = GetRgnString(region, 15, nullptr), vendor = "Norvale Co., Ltd.",
                      product = "Calyte QR";
    // Label and number centred as one line, without the 5-pixel correction.
    const std::string label1 = GetRgnString(region, 16, nullptr);
    const std::int16_t w1 = Width(gFontNum, 24, label1);
    const auto h1 = static_cast<std::int16_t>((288 - (w1 + Width(2, 24, current))) >> 1);
    const std::string label2 = debugText[0] != 0 ? "Install " : GetRgnString(region, 17, nullptr);
    const std::int16_t w2 = Width(labelFont, 18, label2);
    const auto h2 = static_cast<std::int16_t>((288 - (w2 + Width(2, 18, next))) >> 1);
    EXPECT_EQ(Drawn(), (std::vector<Text>{{gFontNum, 24, Centred(gFontNum, 24, heading), 49, heading, yellow},
                                          {2, 18, Centred(2, 18, vendor), 84, vendor, white},
                                          {2, 18, Centred(2, 18, product), 112, product, white},
                                          {gFontNum, 24, h1, 140, label1, white},
                                          {2, 24, static_cast<std::int16_t>(h1 + w1), 140, current, white},
                                          {labelFont, 18, h2, 176, label2, yellow},
                                          {2, 18, static_cast<std::int16_t>(h2 + w2), 176, next, yellow}}));
  }
}

}  // namespace
