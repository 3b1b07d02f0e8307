// vupdate inspect: what an update file holds, whether it is well formed, and what a camera says.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/file_bytes.h"
#include "cli/interrupt.h"
#include "cli/junit.h"
#include "cli/paths.h"
#include "cli/release_check.h"
#include "harness/camera_verdict.h"
#include "harness/install_estimate.h"
#include "harness/names.h"
#include "package/tags.h"
#include "platform/bytes.h"
#include "sim/profile_toml.h"
#include "updatefile/inspect_file.h"

namespace vupdate {

namespace {

// Far beyond any update file (64 + 0x1FFFFF + a few hundred bytes); nothing larger is read.
constexpr std::size_t kLargestReadable = 64u << 20;

struct InspectArgs {
  std::string file;
  std::vector<std::string> cameras;
  bool json = false;
  std::vector<std::string> expect;
  std::optional<std::string> expectFile;
  std::optional<std::string> junit;
};

// What one camera makes of the file.
struct CameraRow {
  std::string profile;
  harness::CameraVerdict verdict;
  std::optional<harness::InstallEstimate> estimate;  // for a file it accepts
  std::optional<std::string> expected;               // the verdict the release engineer expects
  double seconds = 0;                                // what asking this camera took
  bool asExpected() const { return !expected || *expected == word(); }
  bool good() const {
    return verdict.accepted && verdict.runError.empty() && !(estimate && estimate->fails());
  }
  // The one word for what the camera says, as every output of inspect gives it.
  const char* word() const {
    if (!verdict.runError.empty()) return "stopped";
    if (!verdict.accepted) return "refused";
    return good() ? "accepted" : "fails";
  }
};

// What the estimate says after "installation: ".
std::string EstimateText(const harness::InstallEstimate& estimate) {
  return harness::InstallEstimateLine(estimate).substr(sizeof "installation: " - 1);
}

// Seconds to the millisecond, the finest the estimate means: no binary fraction's tail.
double Rounded(double seconds) {
  return std::round(seconds * 1000) / 1000;
}

// The line that says why the camera refuses, or what stopped it.
std::string FirstRefusal(const CameraRow& row) {
  if (!row.verdict.runError.empty())
    return "the camera stopped: " + vupdate::EscapeBytes(row.verdict.runError);
  if (row.verdict.accepted) return "";
  if (row.verdict.logLines.empty()) return "(no log line: unknown model or no card)";
  return vupdate::EscapeBytes(row.verdict.logLines.front());
}

std::string Hex32(std::uint32_t value) {
  return vupdate::Hex(value, 8);
}

bool IsTextTag(std::uint32_t tag) {
  const TrailerTag* row = FindTrailerTag(tag);
  return row != nullptr && row->text != nullptr;
}

std::string ItemValue(const vupdate::ItemView& item) {
  if (IsTextTag(item.tag)) return "\"" + vupdate::FieldText(item.data) + "\"";
  return Hex32(vestra::LoadBE32(item.data.data()));
}

std::string Verdict(const vupdate::ChecksumView& sum) {
  if (!sum.stated) return "computed " + Hex32(sum.computed) + ", none stated";
  return "stated " + Hex32(*sum.stated) + ", computed " + Hex32(sum.computed) +
         (sum.Match() ? "  ok" : "  MISMATCH");
}

// One verdict line, then what the camera wrote and what installing would take.
void PrintCamera(const CameraRow& row) {
  const harness::CameraVerdict& camera = row.verdict;
  const std::string word = row.word();
  if (word == "stopped") {
    std::printf("camera: stopped: %s\n", vupdate::EscapeBytes(camera.runError).c_str());
    return;
  }
  if (word == "refused") {
    std::printf("camera: refused, error code %d (%s)\n", camera.errCode,
                std::string(harness::ErrorCodeName(camera.errCode)).c_str());
    // The file search gives up silently on a camera of another model or without its card drive.
    if (camera.logLines.empty()) {
      std::printf("  (the camera did not get as far as the file: unknown model or no card)\n");
    }
  } else if (word == "fails") {
    std::printf("camera: fails: it accepts the file%s, but the installation %s\n",
                camera.debugMode ? " (debug mode)" : "", EstimateText(*row.estimate).c_str());
  } else {
    std::printf("camera: accepted%s\n", camera.debugMode ? " (debug mode)" : "");
  }
  for (const std::string& line : camera.logLines)
    std::printf("  log: %s\n", vupdate::EscapeBytes(line).c_str());
  if (word == "accepted" && row.estimate)
    std::printf("%s\n", harness::InstallEstimateLine(*row.estimate).c_str());
}

// One row per camera: profile, verdict, the first refusing log line, the estimate.
void PrintCameraTable(const std::vector<CameraRow>& rows) {
  std::size_t width = 7;
  for (const CameraRow& row : rows) width = std::max(width, paths::Shown(row.profile).size());
  const bool expecting = rows.front().expected.has_value();
  std::printf("%-*s  %-9s  %s%s\n", static_cast<int>(width), "profile", "verdict",
              expecting ? "expected       " : "", "why / installation");
  for (const CameraRow& row : rows) {
    const char* verdict = row.word();
    std::string detail = FirstRefusal(row);
    if (row.estimate) detail = EstimateText(*row.estimate);
    std::string expected;
    if (expecting) {
      expected = (row.asExpected() ? "" : "NOT ") + *row.expected;
      expected.resize(std::max<std::size_t>(expected.size() + 2, 15), ' ');
    }
    std::printf("%-*s  %-9s  %s%s\n", static_cast<int>(width), paths::Shown(row.profile).c_str(), verdict,
                expected.c_str(), detail.c_str());
  }
}

void PrintText(const std::string& path, const vupdate::FileReport& r, const std::vector<CameraRow>& rows) {
  std::printf("%s: %llu bytes\n", vupdate::EscapeBytes(path).c_str(),
              static_cast<unsigned long long>(r.size));
  if (r.headerRead) {
    const UpdateFileHeader& h = r.header;
    std::printf("header\n");
    std::printf("  fileType       %s '%s'\n", Hex32(h.fileType).c_str(),
                vupdate::TagText(h.fileType).c_str());
    std::printf("  headerSize     %u\n", h.headerSize);
    std::printf("  trailerOffset  %s\n", Hex32(h.trailerOffset).c_str());
    std::printf("  imageChecksum  %s\n", Hex32(h.imageChecksum).c_str());
    std::printf("  imageStart     %s\n", Hex32(h.imageStart).c_str());
    std::printf("  imageEnd       %s  (image length %u bytes)\n", Hex32(h.imageEnd).c_str(), r.imageLength);
    std::printf("trailer\n");
    for (const vupdate::ItemView& item : r.items) {
      std::printf("  %s  %s  %s\n", vupdate::HexDigits(item.offset, 8).c_str(),
                  vupdate::TagText(item.tag).c_str(), ItemValue(item).c_str());
    }
    std::printf("checksums\n");
    std::printf("  image  %s\n", Verdict(r.image).c_str());
    std::printf("  file   %s\n", Verdict(r.file).c_str());
  }
  std::printf("well formed: %s\n", r.WellFormed() ? "yes" : "no");
  for (const std::string& problem : r.problems) std::printf("  problem: %s\n", problem.c_str());
  for (const std::string& note : r.notes) std::printf("  note: %s\n", note.c_str());
  if (rows.size() == 1) PrintCamera(rows.front());
  if (rows.size() > 1) PrintCameraTable(rows);
  if (!rows.empty() && rows.front().expected) {
    const auto missed =
        std::count_if(rows.begin(), rows.end(), [](const CameraRow& row) { return !row.asExpected(); });
    if (rows.size() == 1) {
      std::printf("release check: expected %s, %s\n", rows.front().expected->c_str(),
                  missed == 0 ? "as the camera answers" : "but the camera answers otherwise");
    } else if (missed == 0) {
      std::printf("release check: every camera answers as expected\n");
    } else {
      std::printf("release check: %lld of %zu cameras do not answer as expected\n",
                  static_cast<long long>(missed), rows.size());
    }
  }
}

nlohmann::ordered_json ChecksumJson(const vupdate::ChecksumView& sum) {
  nlohmann::ordered_json j{{"computed", sum.computed}, {"match", sum.Match()}};
  j["stated"] = sum.stated ? nlohmann::ordered_json(*sum.stated) : nlohmann::ordered_json(nullptr);
  return j;
}

nlohmann::ordered_json EstimateJson(const harness::InstallEstimate& e) {
  nlohmann::ordered_json j{{"total", Rounded(e.totalSeconds())},
                           {"camera_clock", Rounded(e.deviceSeconds())},
                           {"erase", Rounded(e.eraseSeconds)},
                           {"programming", Rounded(e.programSeconds)},
                           {"card_reads", Rounded(e.cardSeconds)}};
  if (e.fails()) j = {{"fails", EstimateText(e)}};
  return j;
}

nlohmann::ordered_json CameraJson(const CameraRow& row) {
  const harness::CameraVerdict& v = row.verdict;
  return {
      {"profile", vupdate::EscapeBytes(row.profile)},
      {"verdict", row.word()},
      {"accepted", row.good()},
      {"err_code", v.errCode},
      {"err_code_name", harness::ErrorCodeName(v.errCode)},
      {"debug_mode", v.debugMode},
      {"first_refusal",
       row.good() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(FirstRefusal(row))},
      {"log_lines", vupdate::EscapeEach(v.logLines)},
      {"installation_seconds", row.estimate ? EstimateJson(*row.estimate) : nlohmann::ordered_json(nullptr)},
      {"expected", row.expected ? nlohmann::ordered_json(*row.expected) : nlohmann::ordered_json(nullptr)},
      {"as_expected", row.asExpected()}};
}

void PrintJson(const std::string& path, const vupdate::FileReport& r, const std::vector<CameraRow>& rows) {
  nlohmann::ordered_json out{{"file", vupdate::EscapeBytes(path)},
                             {"size", r.size},
                             {"well_formed", r.WellFormed()},
                             {"problems", r.problems},
                             {"notes", r.notes}};
  if (r.headerRead) {
    const UpdateFileHeader& h = r.header;
    out["header"] = {{"fileType", vupdate::TagText(h.fileType)},
                     {"headerSize", h.headerSize},
                     {"trailerOffset", h.trailerOffset},
                     {"imageChecksum", h.imageChecksum},
                     {"imageStart", h.imageStart},
                     {"imageEnd", h.imageEnd},
                     {"imageLength", r.imageLength}};
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const vupdate::ItemView& item : r.items) {
      nlohmann::ordered_json j{{"offset", item.offset}, {"tag", vupdate::TagText(item.tag)}};
      if (IsTextTag(item.tag)) {
        j["text"] = vupdate::FieldText(item.data);
      } else {
        j["value"] = vestra::LoadBE32(item.data.data());
      }
      items.push_back(std::move(j));
    }
    out["trailer"] = std::move(items);
    out["checksums"] = {{"image", ChecksumJson(r.image)}, {"file", ChecksumJson(r.file)}};
  }
  if (rows.size() == 1) {
    // One camera: its verdict beside the file, as before the release check existed.
    const nlohmann::ordered_json j = CameraJson(rows.front());
    out["camera"] = {{"verdict", j["verdict"]},       {"accepted", j["accepted"]},
                     {"err_code", j["err_code"]},     {"err_code_name", j["err_code_name"]},
                     {"debug_mode", j["debug_mode"]}, {"log_lines", j["log_lines"]}};
    if (rows.front().estimate) out["installation_seconds"] = j["installation_seconds"];
  }
  if (!rows.empty() && rows.front().expected) {
    out["as_expected"] =
        std::all_of(rows.begin(), rows.end(), [](const CameraRow& row) { return row.asExpected(); });
  }
  if (!rows.empty()) {
    nlohmann::ordered_json cameras = nlohmann::ordered_json::array();
    for (const CameraRow& row : rows) cameras.push_back(CameraJson(row));
    out["cameras"] = std::move(cameras);
  }
  // Every text is escaped already; should one slip through, replacing beats failing.
  std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

// One test case per camera, for CI systems: it fails where the camera does not answer as expected (without
// expectations: where it does not accept the file).
bool WriteJunitReport(const std::string& path, const std::string& file, const std::vector<CameraRow>& rows) {
  std::vector<vupdate::JunitCase> cases;
  const std::string classname =
      "release check." + vupdate::EscapeBytes(std::filesystem::path(file).filename().string());
  for (const CameraRow& row : rows) {
    vupdate::JunitCase c;
    c.name = vupdate::EscapeBytes(std::filesystem::path(row.profile).filename().string());
    c.classname = classname;
    c.seconds = row.seconds;
    const std::string word = row.word();
    std::string detail = row.estimate ? EstimateText(*row.estimate) : FirstRefusal(row);
    c.output = "verdict: " + word + (detail.empty() ? "" : ": " + detail) + "\n";
    for (const std::string& line : row.verdict.logLines)
      c.output += "log: " + vupdate::EscapeBytes(line) + "\n";
    const std::string wanted = row.expected.value_or("accepted");
    if (word != wanted) {
      std::string failure = "expected " + wanted;
      failure += ", the camera says " + word;
      if (!detail.empty()) failure += ": " + detail;
      c.failure = std::move(failure);
    }
    cases.push_back(std::move(c));
  }
  interrupt::RemoveOnSignal temporary;
  const auto problem =
      vupdate::WriteJunit(path, "vupdate inspect " + vupdate::EscapeBytes(file), cases,
                          [&temporary](const std::filesystem::path& temp) { temporary.Set(temp); });
  if (problem) std::cerr << "vupdate inspect: " << vupdate::EscapeBytes(*problem) << "\n";
  return !problem;
}

int Refuse(const std::string& problem) {
  std::cerr << "vupdate inspect: " << problem << "\n";
  return kExitUsage;
}

// The profiles named by --camera: files, and every .toml file of a folder, in name order.
std::optional<std::string> CollectProfiles(const std::vector<std::string>& given,
                                           std::vector<std::string>* out) {
  for (const std::string& path : given) {
    std::error_code ec;
    if (!path.empty() && std::filesystem::is_directory(path, ec)) {
      std::vector<std::string> found;
      for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
        if (entry.path().extension() == ".toml") found.push_back(entry.path().string());
      }
      if (ec) return "--camera " + paths::Shown(path) + ": " + ec.message();
      if (found.empty()) return "--camera " + paths::Shown(path) + " is a folder without any .toml profile";
      std::sort(found.begin(), found.end());
      for (const std::string& file : found) {
        if (auto problem = paths::CheckInputFile("camera profile", file)) return problem;
      }
      out->insert(out->end(), found.begin(), found.end());
      continue;
    }
    if (auto problem = paths::CheckInputFile("--camera", path)) return problem;
    out->push_back(path);
  }
  return std::nullopt;
}

int RunInspect(const InspectArgs& args) {
  if (auto problem = paths::CheckInputFile("update file", args.file)) return Refuse(*problem);
  std::vector<std::string> profilePaths;
  if (auto problem = CollectProfiles(args.cameras, &profilePaths)) return Refuse(*problem);
  std::vector<release::Expectation> expectations;
  for (const std::string& text : args.expect) {
    if (auto problem = release::Parse(text, "--expect", &expectations)) return Refuse(*problem);
  }
  if (args.expectFile) {
    if (auto problem = release::ReadFile(*args.expectFile, &expectations)) return Refuse(*problem);
  }
  std::vector<std::string> expected;
  if (!expectations.empty() || args.junit) {
    if (profilePaths.empty())
      return Refuse("--expect, --expect-file and --junit are about cameras: give --camera");
  }
  if (!expectations.empty()) {
    if (auto problem = release::Assign(profilePaths, expectations, &expected)) return Refuse(*problem);
  }
  if (args.junit) {
    if (auto problem = paths::CheckOutputFile("--junit", *args.junit, false)) return Refuse(*problem);
    if (paths::SameFile(*args.junit, args.file)) return Refuse("--junit names the update file");
    for (const std::string& profile : profilePaths) {
      if (paths::SameFile(*args.junit, profile))
        return Refuse("--junit names the camera profile " + paths::Shown(profile));
    }
    if (args.expectFile && paths::SameFile(*args.junit, *args.expectFile))
      return Refuse("--junit names the --expect-file");
  }
  std::vector<sim::Profile> profiles;
  for (const std::string& path : profilePaths) {
    try {
      profiles.push_back(sim::LoadProfile(path));
    } catch (const std::exception& e) {
      return Refuse(vupdate::EscapeBytes(e.what()));
    }
  }

  std::string error;
  vupdate::FileBytes::Failure failure{};
  const std::optional<vupdate::FileBytes> file = vupdate::FileBytes::Read(
      args.file, kLargestReadable, &error, &failure,
      "vupdate inspect: " + paths::Shown(args.file) + " was cut short while it was read");
  if (failure == vupdate::FileBytes::Failure::kTooLarge) {
    std::cerr << "vupdate inspect: " << paths::Shown(args.file) << " " << error << "\n";
    return kExitFailed;
  }
  if (!file) return Refuse("cannot read " + paths::Shown(args.file) + ": " + error);
  const std::span<const std::uint8_t> bytes = file->bytes();

  const vupdate::FileReport report = vupdate::AnalyseUpdateFile(bytes);
  std::vector<CameraRow> rows;
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    CameraRow row{profilePaths[i], {}, std::nullopt};
    if (!expected.empty()) row.expected = expected[i];
    const auto start = std::chrono::steady_clock::now();
    const sim::FlashProfile flash = profiles[i].flash;
    try {
      row.verdict = harness::AskCamera(std::move(profiles[i]), bytes);
    } catch (const std::exception& e) {
      row.verdict.runError = e.what();
    }
    // How long the camera would take to install a file it accepts, and whether it could at all.
    if (row.verdict.accepted && row.verdict.runError.empty() && report.headerRead) {
      row.estimate = harness::EstimateInstallation(flash, report.imageLength);
    }
    row.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rows.push_back(std::move(row));
  }

  if (args.json) {
    PrintJson(args.file, report, rows);
  } else {
    PrintText(args.file, report, rows);
  }
  if (args.junit && !WriteJunitReport(*args.junit, args.file, rows)) return kExitFailed;
  // With expectations the file's verdicts are the whole question: a file that every camera must refuse
  // passes when they all do.
  if (!expectations.empty()) {
    return std::all_of(rows.begin(), rows.end(), [](const CameraRow& row) { return row.asExpected(); })
               ? kExitOk
               : kExitFailed;
  }
  const bool good = report.WellFormed() &&
                    std::all_of(rows.begin(), rows.end(), [](const CameraRow& row) { return row.good(); });
  return good ? kExitOk : kExitFailed;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<InspectArgs>();
  CLI::App* inspect = app.add_subcommand(
      "inspect", "Show an update file's header, trailer and checksums, and a camera's verdict");
  inspect->add_option("FILE", args->file, "Update file")->required();
  inspect
      ->add_option(
          "--camera", args->cameras,
          "Camera profile (TOML), or a folder of them; repeatable. Runs each camera's own "
          "verification and estimates the installation; exit 0 only when every camera accepts. Default: "
          "none, the file alone")
      // One value per --camera: a vector option otherwise takes the words after it, up to and past `--`.
      ->allow_extra_args(false);
  inspect->add_flag("--json", args->json, "Print JSON. Default: text");
  inspect
      ->add_option(
          "--expect", args->expect,
          "What a camera must answer, PROFILE=VERDICT: a profile's file name (with or without .toml) "
          "or * for every camera not named, and accepted, refused, fails or stopped; repeatable. "
          "Exit 0 exactly when every camera answers as expected. Default: every camera accepts")
      ->allow_extra_args(false);
  inspect->add_option("--expect-file", args->expectFile,
                      "A file of PROFILE=VERDICT lines, as --expect ('#' starts a comment). Default: none");
  inspect->add_option(
      "--junit", args->junit,
      "JUnit XML report of the release check: one test case per camera, failing where the camera "
      "does not answer as expected. Default: none");
  inspect->footer(
      "Exit status: 0 well formed, and every camera accepts the file and can install it (with --expect or "
      "--expect-file: every camera answers as expected, whatever else); 1 malformed, or a camera refuses it, "
      "would fail installing it or does not answer as expected, or --junit could not be written; 2 bad "
      "arguments, file, profile or expectations.\nTexts from the file "
      "or the camera: bytes that are not printable UTF-8, and a backslash, are shown as \\xHH.");
  inspect->callback([args, exitCode] { *exitCode = RunInspect(*args); });
}

}  // namespace vupdate
