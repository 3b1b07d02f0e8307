// The trailer's tags: each fixes the width of its data and the record field it fills.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "package/camera_info.h"

// A tag read as a big-endian word: "CODE" is 0x434F4445.
constexpr std::uint32_t MakeTag(const char (&text)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(text[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(text[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(text[2])} << 8) | static_cast<unsigned char>(text[3]);
}

constexpr std::uint32_t kTagCode = MakeTag("CODE");
constexpr std::uint32_t kTagFirmware = MakeTag("fwrv");
constexpr std::uint32_t kTagCcs = MakeTag("ccsv");
constexpr std::uint32_t kTagRegion = MakeTag("rgnc");
constexpr std::uint32_t kTagInstaller = MakeTag("INSV");
constexpr std::uint32_t kTagVendor = MakeTag("vdid");
constexpr std::uint32_t kTagProduct = MakeTag("ptid");
constexpr std::uint32_t kTagSerialMin = MakeTag("SNMN");
constexpr std::uint32_t kTagSerialMax = MakeTag("SNMX");
constexpr std::uint32_t kTagDebug = MakeTag("DBUG");
constexpr std::uint32_t kTagDone = MakeTag("DONE");

constexpr std::uint32_t kTextFieldSize = 32;

// One row: a number lands in `number`, a text in `text`; the other is null.
struct TrailerTag {
  std::uint32_t tag;
  std::uint32_t width;
  std::uint32_t CameraInfo::*number;
  char (CameraInfo::*text)[kTextFieldSize];
};

inline constexpr std::array<TrailerTag, 10> kTrailerTags{{
    {kTagFirmware, 4, &CameraInfo::fwVersion, nullptr},
    {kTagCcs, 4, &CameraInfo::ccsVersion, nullptr},
    {kTagRegion, 4, &CameraInfo::regionCode, nullptr},
    {kTagInstaller, 4, &CameraInfo::installerVersion, nullptr},
    {kTagVendor, kTextFieldSize, nullptr, &CameraInfo::vendorName},
    {kTagProduct, kTextFieldSize, nullptr, &CameraInfo::productName},
    {kTagSerialMin, 4, &CameraInfo::minSerialNumber, nullptr},
    {kTagSerialMax, 4, &CameraInfo::maxSerialNumber, nullptr},
    {kTagDebug, kTextFieldSize, nullptr, &CameraInfo::debugText},
    {kTagDone, 4, &CameraInfo::fileChecksum, nullptr},
}};

constexpr const TrailerTag* FindTrailerTag(std::uint32_t tag) {
  for (const TrailerTag& row : kTrailerTags) {
    if (row.tag == tag) return &row;
  }
  return nullptr;
}
