// vupdate pack: an update file from a raw image and its metadata.
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/commands.h"
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

// Decimal or 0x hexadecimal, the whole text, within 32 bits.
std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

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
    const auto value = ParseNumber(*numberArgs[i].second);
    if (!value) {
      return Refuse(std::string(numberArgs[i].first) + " '" + *numberArgs[i].second +
                        "' is not a 32-bit number (decimal or 0x hex)",
                    kExitUsage);
    }
    *numberFields[i] = *value;
  }
  if (auto problem = vupdate::CheckMetadata(meta)) return Refuse(*problem, kExitUsage);

  std::ifstream in(args.image, std::ios::binary | std::ios::ate);
  if (!in) return Refuse("cannot read the image " + args.image + ": " + std::strerror(errno), kExitFailed);
  const std::streamoff size = in.tellg();
  if (size < 0) return Refuse("cannot read the image " + args.image, kExitFailed);
  if (auto problem = vupdate::CheckImageSize(static_cast<std::uintmax_t>(size))) {
    return Refuse(args.image + ": " + *problem, kExitFailed);
  }
  std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(image.data()), size)) {
    return Refuse("cannot read the image " + args.image, kExitFailed);
  }

  const std::vector<std::uint8_t> file = vupdate::BuildUpdateFile(vupdate::LayoutFor(std::move(image), meta));
  if (auto problem = vupdate::WriteFileAtomically(args.out, file)) return Refuse(*problem, kExitFailed);
  return kExitOk;
}

}  // namespace

void AddPackCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<PackArgs>();
  CLI::App* pack = app.add_subcommand("pack", "Build an update file from a raw image and its metadata");
  pack->add_option("--image", args->image, "Raw flash image, fewer than 0x200000 bytes")->required();
  pack->add_option("--out", args->out, "Update file to write")->required();
  pack->add_option("--firmware", args->firmware, "Firmware version word ('fwrv')")->required();
  pack->add_option("--ccs", args->ccs, "CCS version word ('ccsv')")->required();
  pack->add_option("--region", args->region, "Region code the file is built for ('rgnc')")->required();
  pack->add_option("--installer", args->installer, "Updater version required ('INSV')")->required();
  pack->add_option("--vendor", args->vendor, "Vendor name, at most 31 bytes ('vdid')")->required();
  pack->add_option("--product", args->product, "Product name, at most 31 bytes ('ptid')")->required();
  pack->add_option("--serial-min", args->serialMin, "Lowest serial number accepted ('SNMN')")->required();
  pack->add_option("--serial-max", args->serialMax, "Highest serial number accepted ('SNMX')")->required();
  CLI::Option* debug = pack->add_option("--debug", args->debug, "Debug label: makes a debug file ('DBUG')");
  pack->add_option("--image-start", args->imageStart, "Flash position of the first image byte (default 0)");
  pack->callback([args, debug, exitCode] {
    args->hasDebug = debug->count() > 0;
    *exitCode = RunPack(*args);
  });
}
