// vupdate pack and inspect as a person uses them: files made, checked, and put before cameras.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "cli/file_bytes.h"
#include "cli_fixture.h"
#include "platform/bytes.h"
#include "tests/support/metadata.h"
#include "updatefile/inspect_file.h"
#include "updatefile/update_file.h"

namespace {

using namespace cli_test;

class PackInspect : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteFile(image_, std::string(5000, 'i'));
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

  fs::path image_ = work_ / "image.raw";
  fs::path out_ = work_ / "QR40100.BIN";
  Outcome last_;
};

// The host's sum takes bytes in 16-bit columns that it empties now and then: it must agree with a
// byte-by-byte sum at every length and when every byte is 0xFF (the columns fullest).
TEST(HostByteSum, AgreesWithAPlainSumAtEveryEdge) {
  for (const std::size_t size : {0, 1, 15, 16, 17, 4095, 4096, 4097, 4112, 196613}) {
    for (const bool full : {true, false}) {
      std::vector<std::uint8_t> bytes(size, 0xFF);
      if (!full) {
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
      }
      EXPECT_EQ(vupdate::ByteSum(bytes), std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0}))
          << size << (full ? " bytes of 0xFF" : " bytes");
    }
  }
}

// The report takes the file sum partly from the image sum: wherever the header puts the image, both must be
// the camera's plain sums (image: from headerSize for trailerOffset - headerSize bytes, as a signed length,
// up to the end of the file; file: every byte but the last four).
TEST(FileReportSums, AreThePlainSumsWhereverTheHeaderPutsTheImage) {
  constexpr std::uint32_t kSize = 4000;
  struct Row {
    const char* what;
    std::uint32_t headerSize, trailerOffset;
  };
  const Row rows[] = {
      {"inside the file", 64, 3000},
      {"up to the file checksum", 64, kSize - 4},
      {"over the file checksum", 64, kSize - 2},
      {"to the end", 64, kSize},
      {"past the end", 64, kSize + 900},
      {"starting inside the file checksum", kSize - 3, kSize + 10},
      {"starting past the end", kSize + 8, kSize + 100},
      {"empty", 200, 200},
      {"wrapped to a negative length", 3000, 64},
      {"from the first byte", 0, 100},
  };
  std::vector<std::uint8_t> bytes(kSize);
  for (std::uint32_t i = 0; i < kSize; ++i) bytes[i] = static_cast<std::uint8_t>(i * 151 + (i >> 7) + 3);
  const auto plain = [&](std::uint64_t from, std::int64_t length) {
    std::uint32_t sum = 0;
    for (std::int64_t i = 0; i < length && from + i < bytes.size(); ++i) sum += bytes[from + i];
    return sum;
  };
  for (const Row& row : rows) {
    vestra::StoreBE32(&bytes[4], row.headerSize);
    vestra::StoreBE32(&bytes[8], row.trailerOffset);
    const vupdate::FileReport report = vupdate::AnalyseUpdateFile(bytes);
    EXPECT_EQ(report.image.computed,
              plain(row.headerSize, static_cast<std::int32_t>(row.trailerOffset - row.headerSize)))
        << row.what;
    EXPECT_EQ(report.file.computed, plain(0, kSize - 4)) << row.what;
  }
}

// The file's pages are mapped, not copied: what is read must be the file, and a file someone cuts short
// while it is mapped must end the command with the caller's message and exit status 2, not a bus error.
// A command named first is set up alone; the top help and a misspelt command still see every command. Each
// command's help gives its exit codes and its defaults.
TEST_F(PackInspect, EachCommandHasItsHelpAndTheTopHelpListsEveryCommand) {
  const char* const commands[] = {"run", "pack", "inspect", "sweep", "serve"};
  const Outcome top = Vupdate({"--help"});
  EXPECT_EQ(top.exit, 0);
  for (const char* command : commands) {
    EXPECT_NE(top.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    const Outcome help = Vupdate({command, "--help"});
    EXPECT_EQ(help.exit, 0) << command;
    EXPECT_NE(help.out.find(std::string("vupdate ") + command + " [OPTIONS]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Exit status"), std::string::npos) << help.out;
  }
  for (const char* command : {"run", "pack", "inspect"}) {
    const Outcome help = Vupdate({command, "--help"});
    EXPECT_NE(help.out.find("Default: "), std::string::npos) << help.out;
  }
}

// Mistakes on the command line: one line on standard error, starting with the command's name, exit 2.
TEST_F(PackInspect, CommandLineMistakesAreOneLineThatNamesTheCommand) {
  const struct {
    std::vector<std::string> args;
    const char* line;  // the whole of standard error
  } rows[] = {
      {{"inspct", "x.bin"}, "vupdate: unknown command 'inspct'; did you mean 'inspect'?\n"},
      {{"rnu"}, "vupdate: unknown command 'rnu'; did you mean 'run'?\n"},
      {{"zzzz"}, "vupdate: unknown command 'zzzz'; the commands are run, pack, inspect, sweep, serve\n"},
      {{}, "vupdate: a command is required: run, pack, inspect, sweep or serve (see vupdate --help)\n"},
      {{"pack", "--image", "x", "--vendor", "v"},
       "vupdate pack: required, but not given: --out, --firmware, --ccs, --region, --installer, --product, "
       "--serial-min, --serial-max (see vupdate pack --help)\n"},
      {{"inspect", "--json"},
       "vupdate inspect: required, but not given: FILE (see vupdate inspect --help)\n"},
      {{"run", "--card"}, "vupdate run: --card: 1 required TEXT missing\n"},
      {{"inspect", "a", "b"}, "vupdate inspect: The following argument was not expected: b\n"},
  };
  for (const auto& row : rows) {
    const Outcome o = Vupdate(row.args);
    EXPECT_EQ(o.exit, 2) << row.line;
    EXPECT_EQ(o.err, row.line);
  }
}

TEST_F(PackInspect, AMappedFileReadsAsTheFileAndOneCutShortEndsWithAMessage) {
  std::string content(70000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + (i >> 8));
  WriteFile(out_, content);
  std::string error;
  const auto file = vupdate::FileBytes::Read(out_.string(), 1 << 20, &error, nullptr, "the file went away");
  ASSERT_TRUE(file) << error;
  EXPECT_TRUE(file->mapped());
  EXPECT_EQ(std::string(file->bytes().begin(), file->bytes().end()), content);

  // A fifo in the file's place is refused, not waited on.
  const fs::path fifo = work_ / "fifo";
  if (::mkfifo(fifo.c_str(), 0600) == 0) {
    EXPECT_FALSE(vupdate::FileBytes::Read(fifo.string(), 1 << 20, &error));
    EXPECT_EQ(error, "not a regular file");
  }

  fs::resize_file(out_, 100);
  EXPECT_EXIT(
      {
        std::uint32_t sum = 0;
        for (const std::uint8_t b : file->bytes()) sum += b;
        std::printf("%u\n", sum);
        std::exit(0);
      },
      ::testing::ExitedWithCode(2), "the file went away");
}

TEST_F(PackInspect, PackedFileIsWellFormedAndTheCameraRefusalCarriesTheExactLogLines) {
  // A new file gets what the umask leaves; a file replaced keeps its mode.
  const mode_t umask = ::umask(027);
  const Outcome packed = Vupdate(PackArgs());
  ::umask(umask);
  ASSERT_EQ(packed.exit, 0) << packed.err;
  EXPECT_EQ(fs::status(out_).permissions(), fs::perms(0640));
  fs::permissions(out_, fs::perms(0600));
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  EXPECT_EQ(fs::status(out_).permissions(), fs::perms(0600));
  const std::string before = ReadFile(out_);
  const nlohmann::json j = InspectJson("serial = 0x20000\nregion = 8\n");
  EXPECT_EQ(last_.exit, 1) << last_.out << last_.err;
  EXPECT_TRUE(j["well_formed"].get<bool>());
  EXPECT_EQ(j["size"], 64 + 5000 + 6 * 8 + 2 * 36 + 8);
  EXPECT_EQ(j["header"]["imageEnd"], 4999);
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
  // The camera deletes a refused file; only its own copy went, and that copy's folder too.
  EXPECT_EQ(ReadFile(out_), before);
  EXPECT_FALSE(TemporariesLeft());
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
  EXPECT_EQ(j["trailer"][8]["text"], "line 7");
  EXPECT_TRUE(j["camera"]["accepted"].get<bool>());
  EXPECT_TRUE(j["camera"]["log_lines"].empty());
  EXPECT_TRUE(j["camera"]["debug_mode"].get<bool>());
  EXPECT_EQ(ReadFile(out_), before);
}

// Damage the sums catch, and an image whose end lies one below its start: every sum of nothing matches, the
// length wraps to 0, and both inspect and the camera refuse it as damaged.
TEST_F(PackInspect, DamagedAndEmptyImagesAreRefusedAsDamaged) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  std::string bytes = ReadFile(out_);
  bytes[100] = static_cast<char>(bytes[100] + 1);
  WriteFile(out_, bytes);
  const nlohmann::json j = InspectJson("");
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(j["checksums"]["image"]["match"].get<bool>());
  EXPECT_EQ(j["camera"]["log_lines"][1], "image checksum doesn't match");

  vupdate::FileLayout empty = vupdate::LayoutFor({}, vestra_test::GoodMetadata());
  empty.imageEnd = 0xFFFFFFFF;
  const std::vector<std::uint8_t> emptyFile = vupdate::BuildUpdateFile(empty);
  WriteFile(out_, std::string(emptyFile.begin(), emptyFile.end()));
  const nlohmann::json e = InspectJson("");
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(e["well_formed"].get<bool>());
  EXPECT_NE(e.dump().find("image is empty"), std::string::npos) << e.dump();
  EXPECT_EQ(e["camera"]["err_code"], -2);

  // A profile that cannot be read is a usage error; a file too short for a header is reported, not misread.
  InspectJson("serial = 'text'\n");
  EXPECT_EQ(last_.exit, 2);
  EXPECT_NE(last_.err.find("serial"), std::string::npos) << last_.err;
  WriteFile(out_, "CODE");
  const nlohmann::json shortFile = InspectJson();
  EXPECT_EQ(last_.exit, 1);
  EXPECT_FALSE(shortFile["well_formed"].get<bool>());
  EXPECT_FALSE(shortFile.contains("header"));
}

// The release check: every sample camera against one file, one row each, exit 0 only when all accept.
TEST_F(PackInspect, ReleaseCheckGivesEveryCameraARowAndTheFirstRefusingLine) {
  ASSERT_EQ(Vupdate(PackArgs({"--serial-max", "0xFFFFFF00", "--vendor", "Soci\xe9t\xe9"})).exit, 0);
  const fs::path samples = fs::path(VESTRA_SAMPLES_DIR);
  const std::map<std::string, std::string> firstLines = {
      {"camera-dev.toml", "camera is development and file is not"},
      {"camera-eu.toml", "camera is European and file is not"},
      {"camera-jp.toml", "camera is Japanese and file is not"},
      {"camera-region6.toml", "camera is US and file is not"},
      {"camera-serial-high.toml", "Camera incompible with files."},
      {"camera-us.toml", "Camera incompible with files."},  // the vendor differs
  };
  const Outcome o = Vupdate({"inspect", out_.string(), "--camera", samples.string(), "--json"});
  EXPECT_EQ(o.exit, 1) << o.err;
  const nlohmann::json j = nlohmann::json::parse(o.out);
  ASSERT_EQ(j["cameras"].size(), firstLines.size());
  for (const auto& row : j["cameras"]) {
    const std::string name = fs::path(row["profile"].get<std::string>()).filename();
    EXPECT_EQ(row["first_refusal"], firstLines.at(name)) << name;
  }
  // The vendor's bytes, not UTF-8, arrive escaped in the JSON and in the printed lines.
  EXPECT_EQ(j["cameras"][5]["log_lines"][7],
            "Vendor name:           'Norvale Co., Ltd.'(cam)  'Soci\\xE9t\\xE9'(file)");
  const Outcome text = Vupdate({"inspect", out_.string(), "--camera", (samples / "camera-eu.toml").string()});
  EXPECT_NE(text.out.find("vdid  \"Soci\\xE9t\\xE9\""), std::string::npos) << text.out;
  // The same camera twice, accepting: exit 0 with the estimate in each row.
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  const std::string us = (samples / "camera-us.toml").string();
  const Outcome both = Vupdate({"inspect", out_.string(), "--camera", us, "--camera", us});
  EXPECT_EQ(both.exit, 0) << both.out;
  const auto second = both.out.find("accepted   about");
  EXPECT_NE(both.out.find("accepted   about", second + 1), std::string::npos) << both.out;
  // After `--` the file may start with '-', whatever options come before it.
  fs::copy_file(out_, work_ / "-QR40100.BIN");
  cwd_ = work_;
  const Outcome dashed = Vupdate({"inspect", "--camera", us, "--", "-QR40100.BIN"});
  cwd_.clear();
  EXPECT_EQ(dashed.exit, 0) << dashed.err;
  EXPECT_FALSE(TemporariesLeft());
}

// The release check as a gate: what each camera must answer, said on the command line or in a file; exit 0
// exactly when every camera answers so. The file here is for region 1 cameras of serial numbers to 0x10000.
TEST_F(PackInspect, ReleaseCheckWithExpectationsIsAGate) {
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  const std::string samples = VESTRA_SAMPLES_DIR;
  WriteFile(dir_.path() / "release.txt", "# release 1.2\ncamera-us=accepted\n\n  *=refused  \n");
  WriteFile(dir_.path() / "typo.txt", "camera-us accepted\n");
  const struct {
    std::vector<std::string> args;
    int exit;
    const char* says;
  } rows[] = {
      {{"--expect", "camera-us=accepted", "--expect", "*=refused"}, 0, "every camera answers as expected\n"},
      {{"--expect-file", (dir_.path() / "release.txt").string()}, 0, "every camera answers as expected\n"},
      {{"--expect", "camera-us.toml=accepted", "--expect", "*=refused", "--json"},
       0,
       "\"as_expected\": true"},
      {{"--expect", "*=accepted"}, 1, "5 of 6 cameras do not answer as expected\n"},
      {{"--expect", "*=accepted", "--json"}, 1, "\"expected\": \"accepted\",\n      \"as_expected\": false"},
      {{"--expect", "camera-us=maybe"},
       2,
       "'camera-us=maybe': the verdict is one of accepted, refused, fails"},
      {{"--expect", "camera-uss=accepted", "--expect", "*=refused"}, 2, "names 'camera-uss', which is none"},
      {{"--expect", "camera-us=accepted"}, 2, "nothing is expected of the camera '"},
      {{"--expect", "camera-us=accepted", "--expect", "camera-us=refused"}, 2, "contradicts --expect"},
      {{"--expect-file", (dir_.path() / "typo.txt").string()},
       2,
       "typo.txt' line 1 'camera-us accepted': say"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"inspect", out_.string(), "--camera", samples};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Outcome o = Vupdate(args);
    EXPECT_EQ(o.exit, row.exit) << row.says << "\n" << o.out << o.err;
    EXPECT_NE((o.out + o.err).find(row.says), std::string::npos) << row.says << "\n" << o.out << o.err;
  }
}

// The release check's JUnit report, read back by another XML reader (Python's xml.etree): a test case per
// camera, failing where the camera does not answer as expected, with the reason.
TEST_F(PackInspect, ReleaseCheckWritesJunitThatAnotherReaderReads) {
  ASSERT_EQ(Vupdate(PackArgs({"--vendor", "Soci\xe9t\xe9 <&>"})).exit, 0);
  const fs::path junit = work_ / "release.xml", script = dir_.path() / "read.py";
  WriteFile(
      script,
      "import sys, xml.etree.ElementTree as ET\n"
      "suite = ET.parse(sys.argv[1]).getroot().find('testsuite')\n"
      "print(suite.get('tests'), suite.get('failures'))\n"
      "for case in suite.iter('testcase'):\n"
      "    failure = case.find('failure')\n"
      "    print(case.get('name'), 'FAILED ' + failure.get('message') if failure is not None else 'passed')\n"
      "    assert 'verdict: ' in case.find('system-out').text\n");
  const Outcome o = Vupdate({"inspect", out_.string(), "--camera", VESTRA_SAMPLES_DIR, "--expect",
                             "*=refused", "--expect", "camera-eu=accepted", "--junit", junit.string()});
  EXPECT_EQ(o.exit, 1) << o.err;
  FILE* reader = ::popen(("python3 " + script.string() + " " + junit.string() + " 2>&1").c_str(), "r");
  ASSERT_NE(reader, nullptr);
  std::string read;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, reader) != nullptr) read += buffer;
  ASSERT_EQ(::pclose(reader), 0) << read;
  EXPECT_EQ(
      read,
      "6 1\n"
      "camera-dev.toml passed\ncamera-eu.toml FAILED expected accepted, the camera says refused: camera is "
      "European and file is not\ncamera-jp.toml passed\ncamera-region6.toml passed\n"
      "camera-serial-high.toml passed\ncamera-us.toml passed\n");
  // The report is an output like any other: checked first, not the update file.
  const Outcome clash =
      Vupdate({"inspect", out_.string(), "--camera", VESTRA_SAMPLES_DIR, "--junit", out_.string()});
  EXPECT_EQ(clash.exit, 2);
  EXPECT_NE(clash.err.find("--junit names the update file"), std::string::npos) << clash.err;
  EXPECT_FALSE(TemporariesLeft());
}

// What a hostile row puts where: the image, the output, and the update file or profile inspect is given.
struct Hostile {
  const char* name;
  std::vector<std::string> args;  // for pack: changes to PackArgs; for inspect: after the file
  Kind imageKind, outKind;        // pack: the image and --out; inspect: the file and a "cam" entry
  int exit;
  const char* says;
  std::size_t imageSize = 5000;
  const char* never = nullptr;  // what must not be said
  // inspect: the file cut to this many bytes (0: whole), and the profile a "cam" file holds.
  std::size_t cutTo = 0;
  const char* camera = "[flash]\nerase_seconds = 700\n";
};
// A row prints as its name, in failure messages and in CTest's list of tests, rather than as its bytes.
void PrintTo(const Hostile& row, std::ostream* os) {
  *os << row.name;
}

const Hostile kBadPacks[] = {
    {"ImageOf0x200000Bytes", {}, Kind::kFile, Kind::kFile, 2, "0x200000", 0x200000},
    {"EmptyImage", {}, Kind::kFile, Kind::kFile, 2, "empty", 0},
    {"ImageIsAFolder", {}, Kind::kFolder, Kind::kFile, 2, "is a folder, not a file"},
    {"ImageIsAFifo", {}, Kind::kFifo, Kind::kFile, 2, "is a fifo, not a file"},
    {"OutIsAFifo", {}, Kind::kFile, Kind::kFifo, 2, "is a fifo; only a regular file is written"},
    {"OutIsADevice", {}, Kind::kFile, Kind::kDevice, 2, "is a character device"},
    {"OutIsAFolder", {}, Kind::kFile, Kind::kFolder, 2, "is a folder"},
    {"OutIsReadOnly", {}, Kind::kFile, Kind::kReadOnly, 2, "is read-only"},
    {"OutIsADanglingLink", {}, Kind::kFile, Kind::kDanglingLink, 2, "symbolic link"},
    {"OutIsTheImage", {"--out", "@image"}, Kind::kFile, Kind::kFile, 2, "same file as --image"},
    {"OutIsEmpty", {"--out", ""}, Kind::kFile, Kind::kFile, 2, "--out: the path is empty"},
    {"ImageStartNotZero", {"--image-start", "0x10000"}, Kind::kFile, Kind::kFile, 2, "start of the flash"},
    {"VendorOf32Bytes", {"--vendor", std::string(32, 'v')}, Kind::kFile, Kind::kFile, 2, "--vendor"},
    {"MissingValue", {"--serial-max"}, Kind::kFile, Kind::kFile, 2, "--serial-max"},
    {"NumberWithJunk", {"--ccs", "12\x1b[2J"}, Kind::kFile, Kind::kFile, 2, "'12\\x1B[2J'"},
    {"NumberBeyond32Bits", {"--firmware", "0x100000000"}, Kind::kFile, Kind::kFile, 2, "--firmware"},
    {"EmptySerialRange",
     {"--serial-min", "5", "--serial-max", "4"},
     Kind::kFile,
     Kind::kFile,
     2,
     "--serial-min"},
};

const Hostile kBadInspections[] = {
    {"EmptyCameraPath", {"--camera", ""}, Kind::kFile, Kind::kNone, 2, "--camera: the path is empty"},
    {"CameraFolderWithoutProfiles", {"--camera", "@cam"}, Kind::kFile, Kind::kFolder, 2, "without any .toml"},
    {"CameraIsAFifo", {"--camera", "@cam"}, Kind::kFile, Kind::kFifo, 2, "is a fifo"},
    {"FileIsAFolder", {}, Kind::kFolder, Kind::kNone, 2, "is a folder, not a file"},
    {"FileIsAFifo", {}, Kind::kFifo, Kind::kNone, 2, "is a fifo, not a file"},
    {"FileIsMissing", {}, Kind::kNone, Kind::kNone, 2, "No such file"},
    {"EraseLongerThanTheUpdaterWaits",
     {"--camera", "@cam"},
     Kind::kFile,
     Kind::kFile,
     1,
     "camera: fails: it accepts the file, but the installation would fail: a full-chip erase takes 700.0 s, "
     "but the updater waits at most 600 s for it: \"Flash device not ready.\"",
     5000,
     "camera: accepted"},
    {"FailingInstallationInJson",
     {"--camera", "@cam", "--json"},
     Kind::kFile,
     Kind::kFile,
     1,
     "\"camera\": {\n    \"verdict\": \"fails\",\n    \"accepted\": false",
     5000,
     "\"accepted\": true"},
    {"EstimateInMilliseconds",
     {"--camera", "@cam", "--json"},
     Kind::kFile,
     Kind::kFile,
     0,
     "\"total\": 11.045,",
     5000,
     "99999",
     0,
     ""},
    {"FileCutShort",
     {},
     Kind::kFile,
     Kind::kNone,
     1,
     "problem: the file is cut short: the trailer offset 0x13C8 lies past the end of the file, 3000 bytes",
     5000,
     "is missing",
     3000},
};

class HostileInput : public PackInspect, public ::testing::WithParamInterface<Hostile> {
 protected:
  // Puts the row's things in place; false where the system does not allow one.
  bool Arrange(const Hostile& row, const fs::path& image, const fs::path& out) {
    if (row.imageKind == Kind::kFile) {
      if (image == image_) WriteFile(image, std::string(row.imageSize, 'i'));
    } else {
      fs::remove(image);
      if (!Make(row.imageKind, image)) return false;
    }
    if (row.cutTo != 0) fs::resize_file(image, row.cutTo);
    if (row.outKind == Kind::kFile && out.filename() == "cam") {
      WriteFile(out, row.camera);
      return true;
    }
    return Make(row.outKind, out);
  }

  std::vector<std::string> Args(std::vector<std::string> args, const fs::path& cam) {
    for (auto& a : args) {
      if (a == "@image") a = image_.string();
      if (a == "@cam") a = cam.string();
    }
    return args;
  }

  void Expect(const Hostile& row, const Outcome& o, const std::map<std::string, std::string>& before) {
    EXPECT_EQ(o.exit, row.exit) << o.out << o.err;
    EXPECT_NE((o.err + o.out).find(row.says), std::string::npos) << o.err << o.out;
    if (row.never != nullptr) {
      EXPECT_EQ((o.err + o.out).find(row.never), std::string::npos) << row.never << "\n" << o.err << o.out;
    }
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), row.exit == 2 ? 1 : 0) << "one line: " << o.err;
    EXPECT_EQ(DiskState(), before) << "nothing changed, nothing left beside";
    EXPECT_FALSE(TemporariesLeft());
  }
};

class PackRefusals : public HostileInput {};
class InspectRefusals : public HostileInput {};

TEST_P(PackRefusals, NameTheProblemAndTouchNothing) {
  const Hostile& row = GetParam();
  if (!Arrange(row, image_, out_)) GTEST_SKIP() << "mknod is not allowed here";
  const auto before = DiskState();
  Expect(row, Vupdate(PackArgs(Args(row.args, {}))), before);
}

TEST_P(InspectRefusals, NameTheProblemAndTouchNothing) {
  const Hostile& row = GetParam();
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  const fs::path cam = work_ / "cam";
  if (!Arrange(row, out_, cam)) GTEST_SKIP();
  std::vector<std::string> args = {"inspect", out_.string()};
  for (const auto& a : Args(row.args, cam)) args.push_back(a);
  const auto before = DiskState();
  Expect(row, Vupdate(args), before);
}

const auto RowName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Table, PackRefusals, ::testing::ValuesIn(kBadPacks), RowName);
INSTANTIATE_TEST_SUITE_P(Table, InspectRefusals, ::testing::ValuesIn(kBadInspections), RowName);

// Stopped half way through many cameras, inspect takes every copy of the file it made with it.
TEST_F(PackInspect, InterruptedReleaseCheckLeavesNoCopyBehind) {
  WriteFile(image_, std::string(0x1FFFFF, '\x5A'));
  ASSERT_EQ(Vupdate(PackArgs()).exit, 0);
  // Far more cameras than it can check before the signal comes, however fast the machine.
  for (int i = 0; i < 3000; ++i) WriteFile(work_ / "cams" / (std::to_string(i) + ".toml"), "");
  const pid_t pid = Start({"inspect", out_.string(), "--camera", (work_ / "cams").string()});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGINT);
  const Outcome o = Wait(pid);
  EXPECT_EQ(o.signal, SIGINT) << "ended by the signal, not before it: " << o.exit;
  EXPECT_FALSE(TemporariesLeft());
}

// A file no known camera would take, or whose version the screen would show with letters, draws a warning:
// written all the same, refused under --strict.
struct PackWarningRow {
  const char* name;
  std::vector<std::string> args;  // replacing PackArgs' defaults
  const char* warns;              // nullptr: no warning
};

const PackWarningRow kPackWarnings[] = {
    {"FitsTheUsCamera", {}, nullptr},
    {"VersionWithDigitsOnly", {"--firmware", "0x01100000"}, nullptr},
    {"RegionOfTheEuropeanCamera", {"--region", "3"}, nullptr},
    {"DebugFileSkipsRegionAndVersion",
     {"--debug", "bench", "--region", "5", "--firmware", "0x012A0000"},
     nullptr},
    {"UnknownVendor",
     {"--vendor", "Acme"},
     "vendor \"Acme\" and product \"Calyte QR\" are no camera model the updater knows"},
    {"UnknownProduct",
     {"--product", "Calyte QX"},
     "product \"Calyte QX\" are no camera model the updater knows"},
    {"RegionNoRuleTakes", {"--region", "5"}, "region 5 is refused by the region rule of every known camera"},
    {"DebugFileOfAnUnknownModel",
     {"--debug", "bench", "--vendor", "Acme"},
     "are no camera model the updater knows"},
    {"SerialRangeOfNoCamera",
     {"--serial-min", "0x20000", "--serial-max", "0x20001"},
     "no known camera takes it: camera-us: Camera incompible with files."},
    {"VersionShownWithALetter", {"--firmware", "0x012A0000"}, "shows as \"Update to version 1.2A\""},
    {"MajorShownWithALetter", {"--firmware", "0x0A000000"}, "shows as \"Update to version A.0\""},
};

void PrintTo(const PackWarningRow& row, std::ostream* os) {
  *os << row.name;
}

class PackWarnings : public PackInspect, public ::testing::WithParamInterface<PackWarningRow> {};

TEST_P(PackWarnings, WarnButWriteAndStrictRefuses) {
  const PackWarningRow& row = GetParam();
  const Outcome o = Vupdate(PackArgs(row.args));
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_TRUE(fs::exists(out_)) << "written despite a warning";
  if (row.warns == nullptr) {
    EXPECT_EQ(o.err, "");
  } else {
    EXPECT_EQ(o.err.rfind("vupdate pack: warning: ", 0), 0u) << o.err;
    EXPECT_NE(o.err.find(row.warns), std::string::npos) << o.err;
  }

  fs::remove(out_);
  std::vector<std::string> strict = PackArgs(row.args);
  strict.emplace_back("--strict");
  const Outcome s = Vupdate(strict);
  EXPECT_EQ(s.exit, row.warns == nullptr ? 0 : 2) << s.err;
  EXPECT_EQ(fs::exists(out_), row.warns == nullptr) << "--strict writes only a file without warnings";
  EXPECT_FALSE(TemporariesLeft());
}

INSTANTIATE_TEST_SUITE_P(Table, PackWarnings, ::testing::ValuesIn(kPackWarnings), RowName);

}  // namespace
