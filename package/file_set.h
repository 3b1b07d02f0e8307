// The update files on the card: names, the code file search, and their removal.
#pragma once

#include <cstdint>

#include "package/camera_info.h"

using InstallerFileSet = CameraInfo[2];

constexpr std::int16_t kErrNone = 0;
constexpr std::int16_t kErrIncompatible = -1;
constexpr std::int16_t kErrCorrupt = -2;
constexpr std::int16_t kErrMissing = -4;

extern InstallerFileSet gFile;
extern std::int16_t gErrCode;

// Where the update log lives on the card.
constexpr const char* kLogFileName = "/B/SYSTEM/UPDATE.LOG";

extern const char* gStrLogFileName;
extern const char* gStrFontFileName;
extern const char* gStrCamFileName;
constexpr int kCodeFileNameSize = 64;
extern char gStrCodeFileName[kCodeFileNameSize];

std::int16_t GetInstallerFilenames();
void DeleteInstallerFiles();
