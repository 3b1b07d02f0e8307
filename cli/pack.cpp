// vupdate pack: an update file from a raw image and its metadata.
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/numbers.h"
#include "cli/paths.h"
#include "updatefile/inspect_file.h"
#include "updatefile/update_file.h"

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
};

int Refuse(std::string_view problem, int code) {
  std::cerr << "vupdate pack: " << problem << "\n";
  return code;
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
  pack->footer(
      "Exit status: 0 the file was written; 1 it could not be written; 2 bad arguments or inputs, nothing "
      "written.\n--out is written beside its name and renamed into place; a fifo, device, folder, symbolic "
      "link "
      "or read-only file there is refused.");
  pack->callback([args, debug, exitCode] {
    args->hasDebug = debug->count() > 0;
    *exitCode = RunPack(*args);
  });
}
