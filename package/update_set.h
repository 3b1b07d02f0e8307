// The update set's names on the card: the module finds and removes its files by them, and the tools that
// make, show or sweep a card use the same.
#pragma once

#include <string_view>

// Paths as the module opens them, on drive B.
constexpr std::string_view kSystemFolder = "/B/SYSTEM/";
constexpr std::string_view kFontFilePath = "/B/SYSTEM/UPDATE.CRS";
constexpr std::string_view kCamFilePath = "/B/SYSTEM/UPDATE.CAM";
constexpr std::string_view kLogFilePath = "/B/SYSTEM/UPDATE.LOG";

// The code file's name: the camera model's prefix, anything, and this suffix, in this very case.
constexpr std::string_view kCodeFilePrefix = "QR40";
constexpr std::string_view kCodeFileSuffix = ".BIN";

constexpr bool IsCodeFileName(std::string_view name, std::string_view prefix = kCodeFilePrefix) {
  return name.size() >= prefix.size() + kCodeFileSuffix.size() && name.starts_with(prefix) &&
         name.ends_with(kCodeFileSuffix);
}

// A drive-B path as a path on the card itself ("SYSTEM/UPDATE.CRS"), and a path's last name.
constexpr std::string_view OnCard(std::string_view drivePath) {
  return drivePath.substr(std::string_view("/B/").size());
}
constexpr std::string_view LeafName(std::string_view path) {
  return path.substr(path.rfind('/') + 1);
}
