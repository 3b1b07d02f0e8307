// vupdate pack and inspect as a person uses them: files made, checked, and put before a camera.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../sim/sim_fixture.h"
#include "tests/support/metadata.h"
#include "updatefile/update_file.h"

namespace {

using sim_test::ReadFile;
using sim_test::TempDir;
using sim_test::WriteFile;
namespace fs = std::filesystem;

struct Outcome {
  int exit = -1;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class PackInspect : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(image_, std::string(5000, 'i')); }

  Outcome Vupdate(const std::vector<std::string>& args) {
    const fs::path out = dir_.path() / "stdout.txt", err = dir_.path() / "stderr.txt";
    std::string command = Quote(VUPDATE_PATH);
    for (const auto& a : args) command += " " + Quote(a);
    const int status = std::system((command + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
  }

  // A file for the default simulated camera; each option of `change` replaces the default or is added,
  // and an option named last without a value is left out.
  std::vector<std::string> PackArgs(const std::vector<std::string>& change = {}) {
    std::vector<std::string> args = {
        "pack",       "--image",     image_,         "--out",      out_,
        "--firmware", "0x01020000",  "--ccs",        "0x01000000", "--region",
        "1",          "--installer", "0x01000000",   "--vendor",   "Norvale Co., Ltd.",
        "--product",  "Calyte QR",   "--serial-min", "0",          "--serial-max",
        "0x10000"};
    args.insert(args.end(), change.begin(), change.end());
    std::map<std::string, std::string> options;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) options[args[i]] = args[i + 1];
    if (change.size() % 2 == 1) options.erase(change.back());
    args = {"pack"};
    for (const auto& [name, value] : options) args.insert(args.end(), {name, value});
    return args;
  }

  // Inspects the packed file, before a camera of this profile when there is one.
  nlohmann::json InspectJson(const char* camera = nullptr) {
    std::vector<std::string> args = {"inspect", out_.string(), "--json"};
    if (camera != nullptr) {
      WriteFile(dir_.path() / "camera.toml", camera);
      args.insert(args.end(), {"--camera", (dir_.path() / "camera.toml").string()});
    }
    last_ = Vupdate(args);
    return nlohmann::json::parse(last_.out, nullptr, false);
  }

  TempDir dir_;
  fs::path image_ = dir_.path() / "image.raw";
  fs::path out_ = dir_.path() / "QR40100.BIN";
  Outcome last_;
};

TEST_F(PackInspect, PackedFileIsWellFormedAndTheCameraRefusalCarriesTheExactLogLines) {
  ASSERT_EQ(Vupdate(PackArgs({"--image-start", "0x10000"})).exit, 0);
  const std::string before = ReadFile(out_);
  const nlohmann::json j = InspectJson("serial = 0x20000\nregion = 8\n");
  EXPECT_EQ(last_.exit, 1) << last_.out << last_.err;
  EXPECT_TRUE(j["well_formed"].get<bool>());
  EXPECT_EQ(j["size"], 64 + 5000 + 6 * 8 + 2 * 36 + 8);
  EXPECT_EQ(j["header"]["imageStart"], 0x10000);
  EXPECT_EQ(j["header"]["imageEnd"], 0x10000 + 4999);
  std::vector<std::string> tags;
  for (const auto& item : j["trailer"]) tags.push_back(item["tag"]);
  EXPECT_EQ(tags, (std::vector<std::string>{"fwrv", "ccsv", "rgnc", "INSV", "vdid", "ptid", "SNMN", "SNMX",
                                            "DONE"}));
  EXPECT_EQ(j["trailer"][0]["value"], 0x01020000);
  EXPECT_EQ(j["trailer"][4]["text"], "Norvale Co., Ltd.");
  for (const char* which : {"image", "file"}) {
    EXPECT_TRUE(j["checksums"][which]["match"].get<bool>()) << which;
    EXPECT_EQ(j["checksums"][which]["stated"], j["checksums"][which]["computed"]) << which;
  }
  EXPECT_FALSE(j["camera"]["accepted"].get<bool>());
  EXPECT_EQ(j["camera"]["err_code"], -1);
  const std::vector<std::string> expected = {
      "camera is Japanese and file is not",
      "Firmware version:      1000000(cam)  1020000(file)",
      "CCS version:           1000000(cam)  1000000(file)",
      "Region code:           8(cam)  1(file)",
      "Installer version:     1000000(cam)  1000000(file)",
      "Minimum serial number: 20000(cam)  0(file)",
      "Maximum serial number: 20000(cam)  10000(file)",
      "Vendor name:           'Norvale Co., Ltd.'(cam)  'Norvale Co., Ltd.'(file)",
      "Product name:          'Calyte QR'(cam)  'Calyte QR'(file)",
  };
  EXPECT_EQ(j["camera"]["log_lines"].get<std::vector<std::string>>(), expected);
  // The camera deletes a refused file; only its own copy went.
  EXPECT_EQ(ReadFile(out_), before);
  // The same file as text, and without a camera well formed is all that counts.
  const Outcome o = Vupdate({"inspect", out_.string()});
  EXPECT_EQ(o.exit, 0);
  for (const char* part : {"fileType       0x434F4445 'CODE'", "vdid  \"Norvale Co., Ltd.\"",
                           "SNMX  0x00010000", "well formed: yes"}) {
    EXPECT_NE(o.out.find(part), std::string::npos) << part << "\n" << o.out;
  }
}

TEST_F(PackInspect, LargestImageAsADebugFileIsAcceptedInDebugModeWhereverItsRegionAndTheUsersFileStays) {
  WriteFile(image_, std::string(0x1FFFFF, '\x5A'));
  ASSERT_EQ(Vupdate(PackArgs({"--debug", "line 7", "--region", "6"})).exit, 0);
  const std::string before = ReadFile(out_);
  const nlohmann::json j = InspectJson("serial = 0x99999\n");
  EXPECT_EQ(last_.exit, 0) << last_.out << last_.err;
  EXPECT_EQ(j["header"]["imageLength"], 0x1FFFFF);
  EXPECT_EQ(j["trailer"][8]["tag"], "DBUG");
  EXPECT_EQ(j["trailer"][8]["text"], "line 7");
  EXPECT_TRUE(j["camera"]["accepted"].get<bool>());
  EXPECT_EQ(j["camera"]["err_code"], 0);
  EXPECT_TRUE(j["camera"]["log_lines"].empty());
  EXPECT_TRUE(j["camera"]["debug_mode"].get<bool>());
  EXPECT_EQ(ReadFile(out_), before);
}

TEST_F(PackInspect, DamagedOrUnreadableInput) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  std::string bytes = ReadFile(out_);
  bytes[100] = static_cast<char>(bytes[100] + 1);
  WriteFile(out_, bytes);
  const nlohmann::json j = InspectJson("");
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(j["well_formed"].get<bool>());
  EXPECT_FALSE(j["checksums"]["image"]["match"].get<bool>());
  EXPECT_EQ(j["checksums"]["image"]["computed"].get<std::uint32_t>(),
            j["checksums"]["image"]["stated"].get<std::uint32_t>() + 1);
  EXPECT_EQ(j["camera"]["err_code"], -2);
  EXPECT_EQ(j["camera"]["log_lines"][1], "image checksum doesn't match");
  // An empty image whose end lies one below its start: every sum of nothing matches, the length does not.
  vupdate::FileLayout empty = vupdate::LayoutFor({}, vestra_test::GoodMetadata());
  empty.imageEnd = 0xFFFFFFFF;
  const std::vector<std::uint8_t> emptyFile = vupdate::BuildUpdateFile(empty);
  WriteFile(out_, std::string(emptyFile.begin(), emptyFile.end()));
  const nlohmann::json e = InspectJson("");
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(e["well_formed"].get<bool>());
  EXPECT_NE(e.dump().find("image is empty"), std::string::npos) << e.dump();
  EXPECT_EQ(e["camera"]["err_code"], -2);
  // A camera profile that cannot be read, and a file that is not there: usage errors.
  InspectJson("serial = 'text'\n");
  EXPECT_EQ(last_.exit, 2);
  EXPECT_NE(last_.err.find("serial"), std::string::npos) << last_.err;
  EXPECT_EQ(Vupdate({"inspect", (dir_.path() / "absent.BIN").string()}).exit, 2);
  // Too short for a header: reported, not misread.
  WriteFile(out_, "CODE");
  const nlohmann::json shortFile = InspectJson();
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(shortFile["well_formed"].get<bool>());
  EXPECT_FALSE(shortFile.contains("header"));
}

struct BadPack {
  const char* name;
  std::vector<std::string> change;  // to PackArgs
  std::size_t imageSize;
  int exit;
  const char* says;  // part of the message
};

const BadPack kBadPacks[] = {
    {"ImageOf0x200000Bytes", {}, 0x200000, 1, "0x200000"},
    {"EmptyImage", {}, 0, 1, "empty"},
    {"VendorOf32Bytes", {"--vendor", std::string(32, 'v')}, 5000, 2, "--vendor"},
    {"DebugLabelOf32Bytes", {"--debug", std::string(32, 'd')}, 5000, 2, "--debug"},
    {"MissingValue", {"--serial-max"}, 5000, 2, "--serial-max"},
    {"NumberWithJunk", {"--ccs", "12x"}, 5000, 2, "--ccs"},
    {"NumberBeyond32Bits", {"--firmware", "0x100000000"}, 5000, 2, "--firmware"},
    {"EmptySerialRange", {"--serial-min", "5", "--serial-max", "4"}, 5000, 2, "--serial-min"},
};

class PackRefusals : public PackInspect, public ::testing::WithParamInterface<BadPack> {};

TEST_P(PackRefusals, NameTheProblemAndLeaveAnEarlierFileAlone) {
  const BadPack& row = GetParam();
  WriteFile(image_, std::string(row.imageSize, 'i'));
  WriteFile(out_, "earlier");
  const Outcome o = Vupdate(PackArgs(row.change));
  EXPECT_EQ(o.exit, row.exit);
  EXPECT_NE(o.err.find(row.says), std::string::npos) << o.err;
  // Nothing written at the destination, not even a temporary file beside it: the image, the earlier file
  // and what vupdate printed are all there is.
  EXPECT_EQ(ReadFile(out_), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 4);
}

INSTANTIATE_TEST_SUITE_P(Table, PackRefusals, ::testing::ValuesIn(kBadPacks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
