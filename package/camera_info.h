// Who the camera is, and the same record for an update file.
#pragma once

#include <cstdint>

constexpr std::uint32_t kInstallerVersion = 0x01000000;
constexpr std::int16_t kRegionJapan = 8;

struct UpdateFileHeader {
  std::uint32_t fileType;
  std::uint32_t headerSize;
  std::uint32_t trailerOffset;
  std::uint32_t imageChecksum;
  std::uint32_t imageStart;
  std::uint32_t imageEnd;
  std::uint32_t reserved[10];
};

struct CameraInfo {
  std::uint32_t fwVersion;
  std::uint32_t ccsVersion;
  std::uint32_t regionCode;
  std::uint32_t installerVersion;
  char vendorName[32];
  char productName[32];
  std::uint32_t serialNumber;
  std::uint32_t minSerialNumber;
  std::uint32_t maxSerialNumber;
  char fileName[64];
  UpdateFileHeader header;
  char debugText[32];
  std::uint32_t fileChecksum;
  std::uint32_t imageDigest;  // CRC-32 of the image as the verification read it; not part of the file
};

extern CameraInfo gCam;

void GetCameraInfo();
void VersionToString(std::uint32_t version, char* text);

// The low 16 bits of the region setting, as the localisation takes it.
inline std::int16_t CameraRegion() {
  return static_cast<std::int16_t>(gCam.regionCode & 0xFFFF);
}
inline bool InDebugMode() {
  return gCam.debugText[0] != 0;
}

// The word at byte offset 40 of the "rgnc" capability record; false when the query fails.
bool GetRegionCapability(std::uint32_t* value);

// The parameters the compatibility rules of a release file read beside vendor and product, and which of them
// the store could not deliver since start-up (then read as 0).
enum CameraParameter : std::uint8_t {
  kParamSerial,
  kParamFirmware,
  kParamCcs,
  kParamRegion,
  kParamRegionCapability,
  kCameraParameterCount
};
extern std::uint8_t gCamUnreadable[kCameraParameterCount];

// The first parameter that the compatibility rules of a release file read and that the store could not
// deliver (its name as the store knows it, "rgnc capability" for the capability record), or nullptr when all
// were read. A refusal that rests on a value the camera could not read says nothing about the file.
const char* UnreadableCameraParameter();
