// Finding the code file on the card and removing the update files once.
#include "package/file_set.h"

#include <string>
#include <vector>

#include "app/entry.h"
#include "app/module_state.h"
#include "platform/kernel.h"
#include "services/log.h"
#include "tests/app/run_fixture.h"

namespace {

using vestra_test::RunTest;
namespace fs = std::filesystem;

class FileSetTest : public RunTest {
 protected:
  void Put(const std::string& name) { sim_test::WriteFile(System(name), "x"); }
};

std::string LongName(std::size_t length) {
  return "QR40" + std::string(length - 8, 'A') + ".BIN";
}

TEST_F(FileSetTest, CodeFileSearch) {
  struct Case {
    std::vector<std::string> names;
    const char* found;  // empty: none
  };
  const Case cases[] = {
      {{"QR40B.BIN", "QR40A.BIN"}, "/B/SYSTEM/QR40A.BIN"},  // the first the directory delivers
      {{"QR40.BIN"}, "/B/SYSTEM/QR40.BIN"},
      {{"QR40123.BIN", "README.TXT"}, "/B/SYSTEM/QR40123.BIN"},
      {{"qr40A.BIN", "QR40A.bin", "QR4.BIN", ".BIN", "BIN", "QR40A.BINX", "XQR40.BIN"}, ""},
      {{}, ""},
      // The longest name that fits beside "/B/SYSTEM/" has 53 characters; longer ones are passed over.
      {{LongName(53)}, nullptr},
      {{LongName(54), "QR40Z.BIN"}, "/B/SYSTEM/QR40Z.BIN"},
      {{LongName(200)}, ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(card_ / "SYSTEM");
    for (const char* name : {"UPDATE.CAM", "UPDATE.CRS"}) Put(name);
    for (const std::string& name : c.names) Put(name);
    const std::string expected = c.found != nullptr ? c.found : "/B/SYSTEM/" + LongName(53);
    SCOPED_TRACE(expected);
    const harness::RunResult r = Run("");
    EXPECT_EQ(std::string(gStrCodeFileName), expected);
    if (expected.empty()) {
      EXPECT_EQ(r.errCode, -4);
      EXPECT_EQ(r.panels, std::vector<PanelId>{kErrorPanel});
      EXPECT_EQ(r.logLines, std::vector<std::string>{"missing QR40nnn.BIN"});
    } else {
      // A file that is not an update file is found all the same, then refused by the verification.
      EXPECT_EQ(r.errCode, -2);
    }
  }
}

TEST_F(FileSetTest, MissingModelCardOrFolderFailWithoutALogLine) {
  struct Case {
    const char* what;
    sim::Profile profile;
    bool removeFolder;
  };
  sim::Profile otherVendor;
  otherVendor.vendor = "Norvale Co., Ltd";
  sim::Profile noProduct;
  noProduct.product.reset();
  sim::Profile noCard;
  noCard.platform.driveAvailable = false;
  const Case cases[] = {
      {"another vendor", otherVendor, false},
      {"unreadable product", noProduct, false},
      {"no card", noCard, false},
      {"no SYSTEM folder", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(card_);
    PutUpdateFile();
    if (c.removeFolder) fs::remove_all(card_ / "SYSTEM");
    const harness::RunResult r = Run("", c.profile);
    EXPECT_EQ(r.errCode, -4);
    EXPECT_EQ(r.panels, std::vector<PanelId>{kErrorPanel});
    ASSERT_EQ(r.sounds.size(), 1u);
    EXPECT_EQ(r.sounds[0].id, -1010);
    EXPECT_TRUE(r.sounds[0].wait);
    EXPECT_TRUE(r.logLines.empty());
    EXPECT_EQ(fs::exists(System("QR40A.BIN")), !c.removeFolder);  // nothing deleted
  }
}

// DeleteInstallerFiles on a booted camera, as the verification and the installation call it.
class DeleteTest : public sim_test::CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    Start();
    ResetModuleGlobals();
    semIdDelete = vestra::semBCreate(0, 1);
    gStrLogFileName = "/B/SYSTEM/UPDATE.LOG";
    gStrFontFileName = "/B/SYSTEM/UPDATE.CRS";
    gStrCamFileName = "/B/SYSTEM/UPDATE.CAM";
    std::snprintf(gStrCodeFileName, sizeof gStrCodeFileName, "/B/SYSTEM/QR40A.BIN");
  }
};

// The latch is taken by the first call that gets past the debug and missing-set tests, whatever it achieves.
TEST_F(DeleteTest, WhichFilesGoWhenAndTheSetIsRemovedAtMostOnce) {
  struct Step {
    std::int16_t errCode;
    bool camPresent = true;  // the companion file gates the others
    const char* debugText = "";
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;  // the set is put back before each
    const char* left;
  };
  const char* const kSet[] = {"UPDATE.CAM", "UPDATE.CRS", "UPDATE.LOG", "QR40A.BIN"};
  const char* all = "UPDATE.CAM UPDATE.CRS UPDATE.LOG QR40A.BIN";
  const Case cases[] = {
      {"installed", {{0}}, ""},
      {"incompatible", {{-1}}, "UPDATE.LOG"},
      {"corrupt", {{-2}}, "UPDATE.LOG"},
      {"missing", {{-4}}, all},
      {"debug mode", {{0, true, "lab"}}, all},
      {"companion missing", {{-1, false}}, "UPDATE.CRS UPDATE.LOG QR40A.BIN"},
      {"second call", {{-2}, {-2}}, all},
      {"failed first attempt", {{-1, false}, {-1}}, all},
      {"skipped call first", {{-4}, {0}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    semIdDelete = vestra::semBCreate(0, 1);
    for (const Step& step : c.steps) {
      for (const char* name : kSet) sim_test::WriteFile(card_ / "SYSTEM" / name, "x");
      if (!step.camPresent) fs::remove(card_ / "SYSTEM" / "UPDATE.CAM");
      gErrCode = step.errCode;
      std::snprintf(gCam.debugText, sizeof gCam.debugText, "%s", step.debugText);
      DeleteInstallerFiles();
    }
    std::string left;
    for (const char* name : kSet) {
      if (fs::exists(card_ / "SYSTEM" / name)) left += std::string(left.empty() ? "" : " ") + name;
    }
    EXPECT_EQ(left, c.left);
  }
}

}  // namespace
