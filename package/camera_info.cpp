// The camera's identity, read once from the parameter store.
#include "package/camera_info.h"

#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "platform/params.h"

namespace {

constexpr int kValueOffset = 8;
constexpr int kCapabilityWordOffset = 40;
constexpr std::uint32_t kCapabilityEuropean = 2;  // this and above show versions with "E"
constexpr const char* kParameterNames[kCameraParameterCount] = {"sern", "fwrv", "ccsv", "rgnc",
                                                                "rgnc capability"};

void ReadText(const char* name, char (&field)[32]) {
  vestra::PARMValueRecord value{};
  if (vestra::PARMGetProductInfo(name, &value) != 0) {
    std::memset(field, 0, sizeof field);
    return;
  }
  // The platform promises at most 31 characters; keep the field terminated whatever it sends.
  std::memcpy(field, value.bytes + kValueOffset, sizeof field - 1);
  field[sizeof field - 1] = '\0';
}

std::uint32_t ReadNumber(const char* name, CameraParameter which) {
  vestra::PARMValueRecord value{};
  gCamUnreadable[which] = vestra::PARMGetProductInfo(name, &value) != 0;
  return gCamUnreadable[which] ? 0 : vestra::LoadBE32(value.bytes + kValueOffset);
}

// A failed read counts as a region other than Japan.
std::uint32_t ReadRegionSetting() {
  vestra::PARMValueRecord value{};
  gCamUnreadable[kParamRegion] = vestra::PARMGetCurrentSetting("rgnc", &value) != 0;
  return gCamUnreadable[kParamRegion] ? 0 : vestra::LoadBE32(value.bytes + kValueOffset);
}

}  // namespace

void GetCameraInfo() {
  gCam.installerVersion = kInstallerVersion;
  ReadText("vdid", gCam.vendorName);
  ReadText("ptid", gCam.productName);
  gCam.serialNumber = ReadNumber("sern", kParamSerial);
  gCam.fwVersion = ReadNumber("fwrv", kParamFirmware);
  gCam.ccsVersion = ReadNumber("ccsv", kParamCcs);
  gCam.regionCode = ReadRegionSetting();
  gCam.debugText[0] = '\0';
}

bool GetRegionCapability(std::uint32_t* value) {
  const std::uint8_t* capability = nullptr;
  std::uint32_t second = 0;
  gCamUnreadable[kParamRegionCapability] =
      vestra::PARMGetCapability("rgnc", &capability, &second) != 0 || capability == nullptr;
  if (gCamUnreadable[kParamRegionCapability]) return false;
  *value = vestra::LoadBE32(capability + kCapabilityWordOffset);
  return true;
}

const char* UnreadableCameraParameter() {
  for (unsigned i = 0; i < kCameraParameterCount; ++i) {
    if (gCamUnreadable[i] != 0) return kParameterNames[i];
  }
  return nullptr;
}

void VersionToString(std::uint32_t version, char* text) {
  const unsigned major = (version >> 24) & 0xFF;
  const unsigned minor = (version >> 16) & 0xFF;
  constexpr std::size_t kTextSize = 7;  // "FF.FFJ" and its terminator
  std::uint32_t capability = 0;
  if (ReadRegionSetting() == static_cast<std::uint32_t>(kRegionJapan)) {
    std::snprintf(text, kTextSize, "%X.%XJ", major, minor);
  } else if (GetRegionCapability(&capability) && capability >= kCapabilityEuropean) {
    std::snprintf(text, kTextSize, "%X.%XE", major, minor);
  } else {
    std::snprintf(text, kTextSize, "%X.%X", major, minor);
  }
}
