// vupdate pack: an update file from a raw image and its metadata.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/numbers.h"
#include "cli/paths.h"
#include "harness/camera_verdict.h"
#include "package/camera_info.h"
#include "sim/camera.h"
#include "sim/profile_toml.h"
#include "updatefile/inspect_file.h"
#include "updatefile/update_file.h"

namespace vupdate {

namespace {

struct PackArgs {
  std::string image;
  std::string out;
  std::string firmware;
  std::string ccs;
  std::string region;
  std::string installer;
  std::string vendor;
  std::string product;
  std::string serialMin;
  std::string serialMax;
  std::string debug;
  std::string imageStart = "0";
  bool hasDebug = false;
  bool strict = false;
};

int Refuse(std::string_view problem, int code) {
  std::cerr << "vupdate pack: " << problem << "\n";
  return code;
}

struct KnownCamera {
  std::string name;  // the profile's file name
  sim::Profile profile;
};

// The sample cameras are the models a file is made for: installed beside the program, else the source tree's.
std::filesystem::path KnownCamerasFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    auto installed = self.parent_path().parent_path() / "share" / "vestra-updater" / "samples";
    if (std::filesystem::is_directory(installed, ec)) return installed;
  }
  return VESTRA_SAMPLES_DIR;
}

std::optional<std::string> LoadKnownCameras(const std::filesystem::path& folder,
                                            std::vector<KnownCamera>* out) {
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".toml") files.push_back(entry.path());
  }
  if (ec) return "cannot read the known cameras in " + paths::Shown(folder) + ": " + ec.message();
  if (files.empty()) return "no camera profile in " + paths::Shown(folder) + " to check the file against";
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    try {
      out->push_back({file.stem().string(), sim::LoadProfile(file)});
    } catch (const std::exception& e) {
      return vupdate::EscapeBytes(e.what());
    }
  }
  return std::nullopt;
}

std::string Quoted(std::string_view text) {
  return "\"" + vupdate::EscapeBytes(text) + "\"";
}

// The version as the version screen shows it, by the updater's own formatting, on a camera whose versions
// carry no region suffix.
std::string ShownVersion(std::uint32_t version) {
  sim::Profile plain;
  plain.region = 1;
  plain.regionCapability = 1;
  sim::Camera camera(sim::CameraOptions{.profile = plain, .drawPixels = false});
  sim::SetCurrent(&camera);
  char text[7] = {};
  VersionToString(version, text);
  sim::SetCurrent(nullptr);
  return text;
}

// A file with these region, vendor, product and debug label that fits a camera in every other field.
std::vector<std::uint8_t> Probe(vupdate::UpdateMetadata meta) {
  meta.firmware = meta.ccs = 0xFFFFFFFF;
  meta.installer = kInstallerVersion;
  meta.serialMin = 0;
  meta.serialMax = 0xFFFFFFFF;
  return vupdate::BuildUpdateFile(vupdate::LayoutFor({0}, meta));
}

// Why no known camera would take the file, one line a reason; empty when some camera takes it. The cameras
// themselves judge: the module's own verification runs on each.
std::vector<std::string> FitWarnings(const vupdate::UpdateMetadata& meta, std::span<const std::uint8_t> file,
                                     const std::vector<KnownCamera>& cameras) {
  std::vector<std::string> warnings;
  std::vector<std::string> refusals;
  for (const KnownCamera& camera : cameras) {
    const harness::CameraVerdict verdict = harness::AskCamera(camera.profile, file);
    if (verdict.accepted) return {};
    refusals.push_back(
        camera.name + ": " +
        (verdict.logLines.empty() ? std::string("refused") : vupdate::EscapeBytes(verdict.logLines.front())));
  }
  // The updater's own model rule decides: a camera of the file's vendor, product and region, and a file that
  // fits it in every other field.
  sim::Profile sameModel;
  sameModel.vendor = meta.vendor;
  sameModel.product = meta.product;
  sameModel.region = meta.region;
  if (!harness::AskCamera(sameModel, Probe(meta)).accepted) {
    std::string samples;
    for (const KnownCamera& c : cameras) {
      const std::string model =
          Quoted(c.profile.vendor.value_or("")) + " " + Quoted(c.profile.product.value_or(""));
      if (samples.find(model) == std::string::npos) samples += (samples.empty() ? "" : ", ") + model;
    }
    warnings.push_back("vendor " + Quoted(meta.vendor) + " and product " + Quoted(meta.product) +
                       " are no camera model the updater knows (the sample cameras: " + samples + ")");
  }
  // The region alone: before each known camera, a file of its model that fits it in every other field.
  bool regionTaken = false;
  for (const KnownCamera& camera : cameras) {
    vupdate::UpdateMetadata probe = meta;
    probe.vendor = camera.profile.vendor.value_or("");
    probe.product = camera.profile.product.value_or("");
    if (harness::AskCamera(camera.profile, Probe(probe)).accepted) {
      regionTaken = true;
      break;
    }
  }
  if (!regionTaken) {
    warnings.push_back("region " + std::to_string(meta.region) +
                       " is refused by the region rule of every known camera");
  }
  if (warnings.empty()) {
    for (std::string& refusal : refusals) warnings.push_back("no known camera takes it: " + refusal);
  }
  return warnings;
}

// What would keep the file from being taken, or shown as meant, by the cameras it is made for.
std::vector<std::string> Warnings(const vupdate::UpdateMetadata& meta, std::span<const std::uint8_t> file) {
  std::vector<std::string> warnings;
  const std::filesystem::path folder = KnownCamerasFolder();
  std::vector<KnownCamera> cameras;
  if (auto problem = LoadKnownCameras(folder, &cameras)) {
    warnings.push_back(*problem);
  } else {
    warnings = FitWarnings(meta, file, cameras);
  }
  // The version screen shows a release file's firmware; a debug file's shows its label instead.
  if (!meta.debug) {
    const std::string shown = ShownVersion(meta.firmware);
    if (std::any_of(shown.begin(), shown.end(), [](unsigned char c) { return std::isalpha(c) != 0; })) {
      warnings.push_back("--firmware " + vupdate::Hex(meta.firmware, 8) + " shows as \"Update to version " +
                         shown + "\": each byte of the major and minor version shows in hexadecimal");
    }
  }
  return warnings;
}

int RunPack(const PackArgs& args) {
  vupdate::UpdateMetadata meta;
  meta.vendor = args.vendor;
  meta.product = args.product;
  if (args.hasDebug) meta.debug = args.debug;
  const std::pair<const char*, const std::string*> numberArgs[] = {
      {"--firmware", &args.firmware},      {"--ccs", &args.ccs},
      {"--region", &args.region},          {"--installer", &args.installer},
      {"--serial-min", &args.serialMin},   {"--serial-max", &args.serialMax},
      {"--image-start", &args.imageStart},
  };
  std::uint32_t* const numberFields[] = {&meta.firmware,  &meta.ccs,       &meta.region,    &meta.installer,
                                         &meta.serialMin, &meta.serialMax, &meta.imageStart};
  for (std::size_t i = 0; i < std::size(numberArgs); ++i) {
    const auto value = vupdate::ParseNumber<std::uint32_t>(*numberArgs[i].second);
    if (!value) {
      return Refuse(std::string(numberArgs[i].first) + " '" + vupdate::EscapeBytes(*numberArgs[i].second) +
                        "' is not a 32-bit number (decimal or 0x hex)",
                    kExitUsage);
    }
    *numberFields[i] = *value;
  }
  if (auto problem = vupdate::CheckMetadata(meta)) return Refuse(*problem, kExitUsage);
  // The camera programs every image from the first byte of the flash; imageStart only takes part in the
  // length check, so any other start would describe a place the image never goes.
  if (meta.imageStart != 0) {
    return Refuse("--image-start " + vupdate::EscapeBytes(args.imageStart) +
                      ": the camera always programs the image at the start of the flash; only 0 says so",
                  kExitUsage);
  }

  if (auto problem = paths::CheckInputFile("--image", args.image)) return Refuse(*problem, kExitUsage);
  if (auto problem = paths::CheckOutputFile("--out", args.out, false)) return Refuse(*problem, kExitUsage);
  if (paths::SameFile(args.image, args.out))
    return Refuse("--out names the same file as --image", kExitUsage);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(args.image, error);
  if (error)
    return Refuse("cannot read the image " + paths::Shown(args.image) + ": " + error.message(), kExitUsage);
  if (auto problem = vupdate::CheckImageSize(size)) {
    return Refuse(paths::Shown(args.image) + ": " + *problem, kExitUsage);
  }

  // One byte more than expected shows a file that grew since it was measured.
  std::vector<std::uint8_t> image(static_cast<std::size_t>(size) + 1);
  std::ifstream in(args.image, std::ios::binary);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (in.bad() || static_cast<std::uintmax_t>(in.gcount()) != size) {
    return Refuse("the image " + paths::Shown(args.image) + " changed while it was read", kExitFailed);
  }
  image.pop_back();

  const std::vector<std::uint8_t> file = vupdate::BuildUpdateFile(vupdate::LayoutFor(std::move(image), meta));
  const std::vector<std::string> warnings = Warnings(meta, file);
  for (const std::string& warning : warnings) std::cerr << "vupdate pack: warning: " << warning << "\n";
  if (args.strict && !warnings.empty()) {
    return Refuse("--strict: " + paths::Shown(args.out) + " not written", kExitUsage);
  }
  interrupt::RemoveOnSignal temporary;
  const auto problem = vupdate::WriteFileAtomically(
      args.out, file, [&temporary](const std::filesystem::path& temp) { temporary.Set(temp); });
  if (problem) return Refuse(*problem, kExitFailed);
  return kExitOk;
}

}  // namespace

void AddPackCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<PackArgs>();
  CLI::App* pack = app.add_subcommand("pack", "Build an update file from a raw image and its metadata");
  pack->add_option("--image", args->image, "Raw flash image: a regular file of 1 to 0x1FFFFF bytes")
      ->required();
  pack->add_option("--out", args->out,
                   "Update file to write: a new file or a writable regular file, replaced whole")
      ->required();
  pack->add_option("--firmware", args->firmware, "Firmware version word ('fwrv')")->required();
  pack->add_option("--ccs", args->ccs, "CCS version word ('ccsv')")->required();
  pack->add_option("--region", args->region, "Region code the file is built for ('rgnc')")->required();
  pack->add_option("--installer", args->installer, "Updater version required ('INSV')")->required();
  pack->add_option("--vendor", args->vendor, "Vendor name, at most 31 bytes ('vdid')")->required();
  pack->add_option("--product", args->product, "Product name, at most 31 bytes ('ptid')")->required();
  pack->add_option("--serial-min", args->serialMin, "Lowest serial number accepted ('SNMN')")->required();
  pack->add_option("--serial-max", args->serialMax, "Highest serial number accepted ('SNMX')")->required();
  CLI::Option* debug = pack->add_option(
      "--debug", args->debug, "Debug label: makes a debug file ('DBUG'). Default: none, a release file");
  pack->add_option(
      "--image-start", args->imageStart,
      "Header field imageStart; the camera always programs the image from the start of the flash "
      "and uses the field only to check the image length (imageEnd - imageStart + 1), so only 0 "
      "is accepted. Default: 0");
  pack->add_flag("--strict", args->strict, "Refuse to write a file that draws a warning (see below)");
  pack->footer(
      "Warnings (standard error; the file is still written): no known camera (the sample profiles) would "
      "take the file, its vendor and product are no known model, no camera's region rule takes its region, "
      "or "
      "the version screen would show digits of --firmware as letters (0x012A0000: \"1.2A\").\n"
      "Exit status: 0 the file was written; 1 it could not be written; 2 bad arguments or inputs, or a "
      "warning under --strict: nothing written.\n--out is written beside its name and renamed into place; a "
      "fifo, device, folder, symbolic "
      "link "
      "or read-only file there is refused.");
  pack->callback([args, debug, exitCode] {
    args->hasDebug = debug->count() > 0;
    *exitCode = RunPack(*args);
  });
}

}  // namespace vupdate
