// vupdate inspect: what an update file holds, whether it is well formed, and what a camera says.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include <nlohmann/json.hpp>

#include "harness/camera_verdict.h"
#include "cli/commands.h"
#include "updatefile/inspect_file.h"
#include "package/tags.h"
#include "platform/bytes.h"
#include "harness/install_estimate.h"
#include "sim/profile_toml.h"

namespace {

// Far beyond any update file (64 + 0x1FFFFF + a few hundred bytes); nothing larger is read.
constexpr std::uintmax_t kLargestReadable = 64u << 20;

struct InspectArgs {
  std::string file;
  std::string camera;
  bool json = false;
};

std::string Hex32(std::uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
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

void PrintText(const std::string& path, const vupdate::FileReport& r, const harness::CameraVerdict* camera,
               const harness::InstallEstimate* estimate) {
  std::printf("%s: %llu bytes\n", path.c_str(), static_cast<unsigned long long>(r.size));
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
      std::printf("  %08llX  %s  %s\n", static_cast<unsigned long long>(item.offset),
                  vupdate::TagText(item.tag).c_str(), ItemValue(item).c_str());
    }
    std::printf("checksums\n");
    std::printf("  image  %s\n", Verdict(r.image).c_str());
    std::printf("  file   %s\n", Verdict(r.file).c_str());
  }
  std::printf("well formed: %s\n", r.WellFormed() ? "yes" : "no");
  for (const std::string& problem : r.problems) std::printf("  problem: %s\n", problem.c_str());
  for (const std::string& note : r.notes) std::printf("  note: %s\n", note.c_str());
  if (camera != nullptr) {
    if (camera->accepted) {
      std::printf("camera: accepted%s\n", camera->debugMode ? " (debug mode)" : "");
    } else {
      std::printf("camera: refused, error code %d\n", camera->errCode);
      // The file search gives up silently on a camera of another model or without its card drive.
      if (camera->logLines.empty()) {
        std::printf("  (the camera did not get as far as the file: unknown model or no card)\n");
      }
    }
    for (const std::string& line : camera->logLines) std::printf("  log: %s\n", line.c_str());
  }
  if (estimate != nullptr) std::printf("%s\n", harness::InstallEstimateLine(*estimate).c_str());
}

nlohmann::ordered_json ChecksumJson(const vupdate::ChecksumView& sum) {
  nlohmann::ordered_json j{{"computed", sum.computed}, {"match", sum.Match()}};
  j["stated"] = sum.stated ? nlohmann::ordered_json(*sum.stated) : nlohmann::ordered_json(nullptr);
  return j;
}

void PrintJson(const std::string& path, const vupdate::FileReport& r, const harness::CameraVerdict* camera,
               const harness::InstallEstimate* estimate) {
  nlohmann::ordered_json out{{"file", path},
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
  if (camera != nullptr) {
    out["camera"] = {{"accepted", camera->accepted},
                     {"err_code", camera->errCode},
                     {"debug_mode", camera->debugMode},
                     {"log_lines", camera->logLines}};
  }
  if (estimate != nullptr) {
    out["installation_seconds"] = {{"total", estimate->totalSeconds()},
                                   {"camera_clock", estimate->deviceSeconds()},
                                   {"erase", estimate->eraseSeconds},
                                   {"programming", estimate->programSeconds},
                                   {"card_reads", estimate->cardSeconds}};
  }
  // Log lines and texts come from the file: replace what is not UTF-8 rather than fail.
  std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

int RunInspect(const InspectArgs& args) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(args.file, error);
  if (error) {
    std::cerr << "vupdate inspect: cannot read " << args.file << ": " << error.message() << "\n";
    return kExitUsage;
  }
  if (size > kLargestReadable) {
    std::cerr << "vupdate inspect: " << args.file << " is " << size
              << " bytes, far more than an update file\n";
    return kExitFailed;
  }
  std::vector<std::uint8_t> bytes(size);
  std::ifstream in(args.file, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    std::cerr << "vupdate inspect: cannot read " << args.file << "\n";
    return kExitUsage;
  }

  std::unique_ptr<harness::CameraVerdict> camera;
  sim::FlashProfile flash;
  if (!args.camera.empty()) {
    sim::Profile profile;
    try {
      profile = sim::LoadProfile(args.camera);
      flash = profile.flash;
    } catch (const std::exception& e) {
      std::cerr << "vupdate inspect: " << e.what() << "\n";
      return kExitUsage;
    }
    try {
      camera = std::make_unique<harness::CameraVerdict>(harness::AskCamera(std::move(profile), bytes));
    } catch (const std::exception& e) {
      std::cerr << "vupdate inspect: " << e.what() << "\n";
      return kExitFailed;
    }
    if (!camera->runError.empty()) {
      std::cerr << "vupdate inspect: the camera stopped: " << camera->runError << "\n";
      return kExitFailed;
    }
  }

  const vupdate::FileReport report = vupdate::AnalyseUpdateFile(bytes);
  // How long the camera would take to install a file it accepts.
  std::optional<harness::InstallEstimate> estimate;
  if (camera && camera->accepted && report.headerRead) {
    estimate = harness::EstimateInstallation(flash, report.imageLength);
  }
  const harness::InstallEstimate* shown = estimate ? &*estimate : nullptr;
  if (args.json) {
    PrintJson(args.file, report, camera.get(), shown);
  } else {
    PrintText(args.file, report, camera.get(), shown);
  }
  const bool good = report.WellFormed() && (!camera || camera->accepted);
  return good ? kExitOk : kExitFailed;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<InspectArgs>();
  CLI::App* inspect = app.add_subcommand(
      "inspect", "Show an update file's header, trailer and checksums, and a camera's verdict");
  inspect->add_option("FILE", args->file, "Update file")->required();
  inspect->add_option("--camera", args->camera, "Camera profile (TOML): run the camera's own verification");
  inspect->add_flag("--json", args->json, "Print JSON");
  inspect->callback([args, exitCode] { *exitCode = RunInspect(*args); });
}
