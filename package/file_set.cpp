// The update files on the card: finding the code file and removing the set once it is used or refused.
#include "package/file_set.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/panel.h"
#include "package/update_set.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "services/log.h"
#include "services/sound.h"

namespace {

struct CameraModel {
  std::string_view vendor;
  std::string_view product;
  const char* prefix;
};
constexpr CameraModel kModels[] = {{"Norvale Co., Ltd.", "Calyte QR", kCodeFilePrefix.data()}};

const char* ModelPrefix() {
  for (const CameraModel& model : kModels) {
    if (model.vendor == gCam.vendorName && model.product == gCam.productName) return model.prefix;
  }
  return nullptr;
}

// A name too long for gStrCodeFileName is passed over rather than cut.
bool FitsCodeFileName(std::string_view name) {
  return kSystemFolder.size() + name.size() < sizeof gStrCodeFileName;
}

void FindCodeFile(const char* prefix) {
  vestra::DIR* dir = vestra::opendir(kSystemFolder.data());
  if (dir == nullptr) {
    gErrCode = kErrMissing;
    return;
  }
  while (vestra::dirent* entry = vestra::readdir(dir)) {
    const void* end = std::memchr(entry->d_name, '\0', sizeof entry->d_name);
    const std::size_t length = end != nullptr
                                   ? static_cast<std::size_t>(static_cast<const char*>(end) - entry->d_name)
                                   : sizeof entry->d_name;
    const std::string_view name(entry->d_name, length);
    if (!IsCodeFileName(name, prefix) || !FitsCodeFileName(name)) continue;
    std::snprintf(gStrCodeFileName, sizeof gStrCodeFileName, "%.*s%.*s",
                  static_cast<int>(kSystemFolder.size()), kSystemFolder.data(), static_cast<int>(name.size()),
                  name.data());
    break;
  }
  vestra::closedir(dir);
  if (gStrCodeFileName[0] == '\0') {
    LogFormat("missing %snnn.BIN", prefix);
    gErrCode = kErrMissing;
  }
}

}  // namespace

std::int16_t GetInstallerFilenames() {
  gStrLogFileName = kLogFilePath.data();
  gStrFontFileName = kFontFilePath.data();
  gStrCamFileName = kCamFilePath.data();
  gStrCodeFileName[0] = '\0';

  const char* prefix = ModelPrefix();
  if (prefix == nullptr || (vestra::FSDiskDriveAvailable(vestra::kCardDrive) & 0xFF) == 0) {
    gErrCode = kErrMissing;
  } else {
    FindCodeFile(prefix);
  }

  if (gErrCode != kErrNone) {
    ShowFailurePanel(kErrorPanel, FailureSound::kAlert);
  }
  return gErrCode;
}

void DeleteInstallerFiles() {
  if (gCam.debugText[0] != '\0') return;
  if (gErrCode == kErrMissing) return;
  if (vestra::semTake(semIdDelete, vestra::NO_WAIT) != 0) return;
  if (vestra::remove(gStrCamFileName) != 0) return;
  vestra::remove(gStrFontFileName);
  if (gStrCodeFileName[0] != '\0') vestra::remove(gStrCodeFileName);
  if (gErrCode == kErrNone) vestra::remove(gStrLogFileName);
}
