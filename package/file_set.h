// The update files on the card: names, the code file search, and their removal.
#pragma once

#include <cstdint>

#include "package/camera_info.h"
#include "platform/kernel.h"

using InstallerFileSet = CameraInfo[2];

constexpr std::int16_t kErrNone = 0;
constexpr std::int16_t kErrIncompatible = -1;
constexpr std::int16_t kErrCorrupt = -2;
constexpr std::int16_t kErrMissing = -4;

extern InstallerFileSet gFile;
extern std::int16_t gErrCode;
// Taken by the first removal of the update files: they go once per run, whoever asks.
extern vestra::SEM_ID semIdDelete;

extern const char* gStrFontFileName;
extern const char* gStrCamFileName;
constexpr int kCodeFileNameSize = 64;
extern char gStrCodeFileName[kCodeFileNameSize];

std::int16_t GetInstallerFilenames();
void DeleteInstallerFiles();
