// Loading the module afresh leaves nothing of an earlier run: a start-up after another camera's whole update
// leaves every global as the same start-up did before it.
#include "app/module_state.h"

#include <map>
#include <string>
#include <vector>

#include "tests/app/run_fixture.h"

namespace {

using vestra_test::RunTest;

// Every global's bytes; an address only as set or not, since ports and copies move from run to run.
std::map<std::string, std::vector<unsigned char>> Snapshot() {
  std::map<std::string, std::vector<unsigned char>> globals;
  VisitModuleGlobals(
      [](const ModuleGlobal& global, void* context) {
        auto& out = *static_cast<std::map<std::string, std::vector<unsigned char>>*>(context);
        const auto* bytes = static_cast<const unsigned char*>(global.address);
        std::vector<unsigned char> value(bytes, bytes + global.size);
        if (global.pointer) value.assign(1, *static_cast<const void* const*>(global.address) != nullptr);
        out[global.name] = value;
      },
      &globals);
  return globals;
}

class ModuleStateTest : public RunTest {};

TEST_F(ModuleStateTest, AStartUpAfterAnotherCamerasUpdateLeavesEveryGlobalAsAFreshOne) {
  PutUpdateFile();
  sim::Profile english;  // region 1, battery enough: stops on the splash, waiting for keys
  ASSERT_EQ(Run("", english).finalPanel, kSplashPanel);
  const auto fresh = Snapshot();

  // Another camera dirties what it can: a Japanese face, a debug file, a whole installation, a full bar.
  sim::Profile japanese;
  japanese.region = 8;
  japanese.regionCapability = 8;
  auto meta = vestra_test::GoodMetadata();
  meta.region = 8;
  meta.debug = "lab build";
  PutUpdateFile(meta, "QR40A.BIN", 40000);
  const harness::RunResult update = Run("left,left,left,centre", japanese);
  ASSERT_EQ(update.finalPanel, kSuccessPanel);
  ASSERT_GT(update.progressValue, 0u);

  PutUpdateFile();
  ASSERT_EQ(Run("", english).finalPanel, kSplashPanel);
  const auto again = Snapshot();
  ASSERT_EQ(again.size(), fresh.size());
  for (const auto& [name, value] : fresh)
    EXPECT_EQ(again.at(name), value) << name << " survived the other run";
}

}  // namespace
