// vupdate pack and inspect as a person uses them: files made, checked, and put before a camera.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../sim/sim_fixture.h"

namespace {

using sim_test::ReadFile;
using sim_test::TempDir;
using sim_test::WriteFile;
namespace fs = std::filesystem;

struct Outcome {
  int exit = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class PackInspect : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.path() / "image.raw";
    std::string bytes(5000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13);
    WriteFile(image_, bytes);
    out_ = dir_.path() / "QR40100.BIN";
  }

  Outcome Vupdate(const std::vector<std::string>& args) {
    const fs::path err = dir_.path() / "stderr.txt";
    std::string command = Quote(VUPDATE_PATH);
    for (const auto& a : args) command += " " + Quote(a);
    command += " 2>" + Quote(err.string());
    Outcome o;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return o;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) o.out.append(buf, n);
    const int status = pclose(pipe);
    o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.err = ReadFile(err);
    return o;
  }

  // A file for the default simulated camera; each option of `change` replaces the default or is added.
  std::vector<std::string> PackArgs(const std::vector<std::string>& change = {}) {
    std::vector<std::string> args = {
        "pack",       "--image",     image_.string(), "--out",      out_.string(),
        "--firmware", "0x01020000",  "--ccs",         "0x01000000", "--region",
        "1",          "--installer", "0x01000000",    "--vendor",   "Norvale Co., Ltd.",
        "--product",  "Calyte QR",   "--serial-min",  "0",          "--serial-max",
        "0x10000"};
    for (std::size_t i = 0; i + 1 < change.size(); i += 2) {
      const auto at = std::find(args.begin(), args.end(), change[i]);
      if (at != args.end()) {
        at[1] = change[i + 1];
      } else {
        args.push_back(change[i]);
        args.push_back(change[i + 1]);
      }
    }
    return args;
  }

  nlohmann::json InspectJson(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"inspect", out_.string(), "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    last_ = Vupdate(args);
    return nlohmann::json::parse(last_.out, nullptr, false);
  }

  fs::path Profile(const std::string& toml) {
    const fs::path file = dir_.path() / "camera.toml";
    WriteFile(file, toml);
    return file;
  }

  TempDir dir_;
  fs::path image_;
  fs::path out_;
  Outcome last_;
};

TEST_F(PackInspect, PackedFileIsWellFormedAndListsItsItemsInFileOrder) {
  ASSERT_EQ(Vupdate(PackArgs({"--image-start", "0x10000"})).exit, 0);
  const nlohmann::json j = InspectJson();
  ASSERT_EQ(last_.exit, 0) << last_.out << last_.err;
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
}

TEST_F(PackInspect, CameraAcceptsAFittingFileAndTheUsersFileStays) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  const std::string before = ReadFile(out_);
  const nlohmann::json j = InspectJson({"--camera", Profile("serial = 0x1234\n").string()});
  EXPECT_EQ(last_.exit, 0) << last_.out << last_.err;
  EXPECT_TRUE(j["camera"]["accepted"].get<bool>());
  EXPECT_EQ(j["camera"]["err_code"], 0);
  EXPECT_TRUE(j["camera"]["log_lines"].empty());
  EXPECT_EQ(ReadFile(out_), before);
}

TEST_F(PackInspect, CameraRefusalCarriesTheExactLogLines) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  const std::string before = ReadFile(out_);
  const nlohmann::json j = InspectJson({"--camera", Profile("serial = 0x20000\nregion = 8\n").string()});
  EXPECT_EQ(last_.exit, 1);
  EXPECT_TRUE(j["well_formed"].get<bool>());
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
}

TEST_F(PackInspect, DebugFileIsAcceptedInDebugModeWhereverItsRegion) {
  ASSERT_EQ(Vupdate(PackArgs({"--debug", "line 7", "--region", "6"})).exit, 0);
  const nlohmann::json j = InspectJson({"--camera", Profile("serial = 0x99999\n").string()});
  EXPECT_EQ(last_.exit, 0) << last_.out << last_.err;
  EXPECT_TRUE(j["camera"]["accepted"].get<bool>());
  EXPECT_TRUE(j["camera"]["debug_mode"].get<bool>());
  EXPECT_EQ(j["trailer"][8]["tag"], "DBUG");
  EXPECT_EQ(j["trailer"][8]["text"], "line 7");
}

TEST_F(PackInspect, DamagedFileIsNotWellFormedAndTheCameraSaysWhy) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  std::string bytes = ReadFile(out_);
  bytes[100] = static_cast<char>(bytes[100] + 1);
  WriteFile(out_, bytes);
  const nlohmann::json j = InspectJson({"--camera", Profile("").string()});
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(j["well_formed"].get<bool>());
  EXPECT_FALSE(j["checksums"]["image"]["match"].get<bool>());
  EXPECT_EQ(j["checksums"]["image"]["computed"].get<std::uint32_t>(),
            j["checksums"]["image"]["stated"].get<std::uint32_t>() + 1);
  EXPECT_EQ(j["camera"]["err_code"], -2);
  EXPECT_EQ(j["camera"]["log_lines"][1], "image checksum doesn't match");
}

TEST_F(PackInspect, TextReportNamesEachPart) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  const Outcome o = Vupdate({"inspect", out_.string()});
  EXPECT_EQ(o.exit, 0);
  for (const char* part : {"fileType       0x434F4445 'CODE'", "vdid  \"Norvale Co., Ltd.\"",
                           "SNMX  0x00010000", "well formed: yes"}) {
    EXPECT_NE(o.out.find(part), std::string::npos) << part << "\n" << o.out;
  }
}

struct BadPack {
  const char* name;
  std::vector<std::string> change;
  std::size_t imageSize;  // 0: the default image
  int exit;
  const char* says;  // part of the message
};

const BadPack kBadPacks[] = {
    {"image of 0x200000 bytes", {}, 0x200000, 1, "0x200000"},
    {"empty image", {}, 0, 1, "empty"},
    {"vendor of 32 bytes", {"--vendor", std::string(32, 'v')}, 5000, 2, "--vendor"},
    {"debug label of 32 bytes", {"--debug", std::string(32, 'd')}, 5000, 2, "--debug"},
    {"number with junk", {"--ccs", "12x"}, 5000, 2, "--ccs"},
    {"number beyond 32 bits", {"--firmware", "0x100000000"}, 5000, 2, "--firmware"},
    {"empty serial range", {"--serial-min", "5", "--serial-max", "4"}, 5000, 2, "--serial-min"},
};

class PackRefusals : public PackInspect, public ::testing::WithParamInterface<BadPack> {};

TEST_P(PackRefusals, NameTheProblemAndLeaveNoFile) {
  const BadPack& row = GetParam();
  if (row.imageSize != 5000) WriteFile(image_, std::string(row.imageSize, 'i'));
  const Outcome o = Vupdate(PackArgs(row.change));
  EXPECT_EQ(o.exit, row.exit);
  EXPECT_NE(o.err.find(row.says), std::string::npos) << o.err;
  // Nothing at the destination, not even a temporary file beside it.
  EXPECT_FALSE(fs::exists(out_));
  for (const auto& e : fs::directory_iterator(dir_.path())) {
    EXPECT_EQ(e.path().filename().string().find(".QR40100.BIN"), std::string::npos) << e.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PackRefusals, ::testing::ValuesIn(kBadPacks), [](const auto& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
});

TEST_F(PackInspect, LargestImageIsPackedAndAccepted) {
  WriteFile(image_, std::string(0x1FFFFF, '\x5A'));
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  const nlohmann::json j = InspectJson({"--camera", Profile("serial = 0x1234\n").string()});
  EXPECT_EQ(last_.exit, 0) << last_.out << last_.err;
  EXPECT_EQ(j["header"]["imageLength"], 0x1FFFFF);
  EXPECT_TRUE(j["camera"]["accepted"].get<bool>());
}

TEST_F(PackInspect, RefusedPackLeavesAnEarlierFileAlone) {
  WriteFile(out_, "earlier");
  const Outcome o = Vupdate(PackArgs({"--product", std::string(40, 'p')}));
  EXPECT_EQ(o.exit, 2);
  EXPECT_EQ(ReadFile(out_), "earlier");
}

TEST_F(PackInspect, MissingValueIsAUsageError) {
  std::vector<std::string> args = PackArgs();
  args.resize(args.size() - 2);  // without --serial-max
  const Outcome o = Vupdate(args);
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find("--serial-max"), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(PackInspect, InspectArgumentErrors) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  EXPECT_EQ(Vupdate({"inspect", (dir_.path() / "absent.BIN").string()}).exit, 2);
  const Outcome bad = Vupdate({"inspect", out_.string(), "--camera", Profile("serial = 'text'\n").string()});
  EXPECT_EQ(bad.exit, 2);
  EXPECT_NE(bad.err.find("serial"), std::string::npos) << bad.err;
}

TEST_F(PackInspect, ShortFileIsReportedNotMisread) {
  WriteFile(out_, "CODE");
  const nlohmann::json j = InspectJson();
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(j["well_formed"].get<bool>());
  EXPECT_FALSE(j.contains("header"));
}

}  // namespace
