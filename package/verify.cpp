// Deciding whether the update files on the card are whole and fit this very camera.
#include "package/verify.h"

#include <cstring>
#include <string_view>

#include "app/panel.h"
#include "package/camera_info.h"
#include "package/file_format.h"
#include "package/file_set.h"
#include "package/tags.h"
#include "platform/files.h"
#include "services/log.h"
#include "services/sound.h"

namespace {

constexpr std::uint32_t kCapabilityDevelopment = 4;
constexpr std::uint32_t kCapabilityEurope = 3;
constexpr std::uint32_t kRegionDevelopmentFile = 6;
constexpr std::uint32_t kRegionEuropeFile = 3;

// Texts of the records are read within their fields, so that a field without a terminator
// (whatever put it there) never makes a comparison run past it.
std::string_view FieldText(const char (&field)[kTextFieldSize]) {
  const void* end = std::memchr(field, 0, kTextFieldSize);
  return {field, end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : kTextFieldSize};
}

bool SameText(const char (&a)[kTextFieldSize], const char (&b)[kTextFieldSize]) {
  return FieldText(a) == FieldText(b);
}

// A debug file skips the region, version and serial rules but not these.
bool DebugFileFits(const CameraInfo& file) {
  return file.installerVersion == gCam.installerVersion && SameText(file.vendorName, gCam.vendorName) &&
         SameText(file.productName, gCam.productName);
}

// The first row that recognises the camera decides; returns its line when the file breaks it.
const char* RegionRuleBroken(const CameraInfo& file) {
  std::uint32_t capability = 0;
  const bool known = GetRegionCapability(&capability);
  if (known && capability == kCapabilityDevelopment) {
    return file.regionCode == kRegionDevelopmentFile ? nullptr : "camera is development and file is not";
  }
  if (gCam.regionCode == static_cast<std::uint32_t>(kRegionJapan)) {
    return file.regionCode == gCam.regionCode ? nullptr : "camera is Japanese and file is not";
  }
  if (known && capability == kCapabilityEurope) {
    return file.regionCode == kRegionEuropeFile ? nullptr : "camera is European and file is not";
  }
  return file.regionCode == gCam.regionCode ? nullptr : "camera is US and file is not";
}

bool ReleaseFits(const CameraInfo& file) {
  return file.fwVersion >= gCam.fwVersion && file.ccsVersion >= gCam.ccsVersion &&
         file.installerVersion == gCam.installerVersion && gCam.serialNumber >= file.minSerialNumber &&
         gCam.serialNumber <= file.maxSerialNumber && SameText(file.vendorName, gCam.vendorName) &&
         SameText(file.productName, gCam.productName);
}

void LogComparison(const CameraInfo& file) {
  const auto hex = [](std::uint32_t v) { return static_cast<unsigned>(v); };
  const auto text = [](const char(&field)[kTextFieldSize]) {
    return static_cast<int>(FieldText(field).size());
  };
  LogFormat("Firmware version:      %x(cam)  %x(file)", hex(gCam.fwVersion), hex(file.fwVersion));
  LogFormat("CCS version:           %x(cam)  %x(file)", hex(gCam.ccsVersion), hex(file.ccsVersion));
  LogFormat("Region code:           %x(cam)  %x(file)", hex(gCam.regionCode), hex(file.regionCode));
  LogFormat("Installer version:     %x(cam)  %x(file)", hex(gCam.installerVersion),
            hex(file.installerVersion));
  LogFormat("Minimum serial number: %x(cam)  %x(file)", hex(gCam.serialNumber), hex(file.minSerialNumber));
  LogFormat("Maximum serial number: %x(cam)  %x(file)", hex(gCam.serialNumber), hex(file.maxSerialNumber));
  LogFormat("Vendor name:           '%.*s'(cam)  '%.*s'(file)", text(gCam.vendorName), gCam.vendorName,
            text(file.vendorName), file.vendorName);
  LogFormat("Product name:          '%.*s'(cam)  '%.*s'(file)", text(gCam.productName), gCam.productName,
            text(file.productName), file.productName);
}

// A refusal for a fault of the card or the camera rather than of the file: the update files stay on the card.
// The camera may hold no firmware at all (a retry after an interrupted installation), and they are all the
// owner has to install it again.
struct Verdict {
  std::int16_t errCode;
  bool filesKept = false;
};

Verdict Unreadable() {
  LogText("Could not read the update file.");
  return {kErrCorrupt, true};
}

// A rule broken on a value the camera could not read: the refusal stands, as the rules decided it on what the
// camera had, but it says nothing about the file.
Verdict Misfit(const char* line) {
  LogText(line);
  const char* parameter = UnreadableCameraParameter();
  if (parameter == nullptr) return {kErrIncompatible};
  LogFormat("Could not read the camera's %s parameter; the update files are kept.", parameter);
  return {kErrIncompatible, true};
}

// Every check of the opened code file, in order: the verdict of the first one that fails.
Verdict CheckCodeFile(std::int32_t fd, CameraInfo& file) {
  UpdateFileHeader& header = file.header;
  const std::int16_t read = ReadFileHeader(fd, &header);
  if (read == kFileUnreadable) return Unreadable();
  if (read != 0) return {kErrCorrupt};
  if (header.fileType != kTagCode) {
    LogText("Wrong file type");
    return {kErrCorrupt};
  }
  if (header.headerSize != kFileHeaderSize) {
    LogText("header wrong size");
    return {kErrCorrupt};
  }
  const std::uint32_t stretch = header.trailerOffset - header.headerSize;
  const std::int16_t imageSum = VerifyChecksum(fd, header.headerSize, static_cast<std::int32_t>(stretch),
                                               header.imageChecksum, &file.imageDigest);
  if (imageSum == kFileUnreadable) return Unreadable();
  if (imageSum != 0) {
    LogText("image checksum doesn't match");
    return {kErrCorrupt};
  }
  const std::uint32_t imageLength = header.imageEnd - header.imageStart + 1;
  // An end one below the start wraps the length to 0, which would match an empty stretch and every sum of it:
  // installing that erases the camera and programs nothing.
  if (imageLength == 0) {
    LogText("image is empty");
    return {kErrCorrupt};
  }
  if (imageLength > kImageSizeLimit) {
    LogText("image size is not less than 0x200000 bytes");
    return {kErrCorrupt};
  }
  if (imageLength != stretch) {
    LogText("Image size does not match trailer offset-header size");
    return {kErrCorrupt};
  }
  const std::int16_t trailer = ReadFileTrailer(fd, &file);
  if (trailer == kFileUnreadable) return Unreadable();
  if (trailer != 0) {
    LogText("Could not read trailer");
    return {kErrCorrupt};
  }
  const std::int32_t fileSize = vestra::lseek(fd, 0, vestra::kSeekEnd);
  if (fileSize < 0) {
    LogText("could not determine file size");
    return {kErrCorrupt, true};
  }
  const std::int16_t fileSum = VerifyChecksum(fd, 0, fileSize - 4, file.fileChecksum);
  if (fileSum == kFileUnreadable) return Unreadable();
  if (fileSum != 0) {
    LogText("file checksum doesn't match");
    return {kErrCorrupt};
  }

  // A debug file's rules read no parameter that could fail: vendor and product were read to find the file.
  if (file.debugText[0] != 0) {
    if (DebugFileFits(file)) return {kErrNone};
    LogText("Camera incompible with files.");
    return {kErrIncompatible};
  }
  if (const char* line = RegionRuleBroken(file)) return Misfit(line);
  if (!ReleaseFits(file)) return Misfit("Camera incompible with files.");
  return {kErrNone};
}

}  // namespace

std::int16_t VerifyInstallerFiles() {
  gErrCode = kErrNone;
  CameraInfo& file = gFile[0];
  std::int32_t fd = -1;
  bool filesKept = false;

  const std::int32_t font = vestra::FSOpen(gStrFontFileName, vestra::kOpenReadOnly, 0);
  if (font < 0) {
    LogFormat("%s is missing", gStrFontFileName);
    gErrCode = kErrMissing;
  } else {
    vestra::FSClose(font);
    std::memcpy(file.fileName, gStrCodeFileName, sizeof file.fileName);
    file.fileName[sizeof file.fileName - 1] = 0;
    fd = vestra::FSOpen(file.fileName, vestra::kOpenReadOnly, 0);
    if (fd < 0) {
      LogFormat("%s is missing", file.fileName);
      gErrCode = kErrMissing;
    } else {
      const Verdict verdict = CheckCodeFile(fd, file);
      gErrCode = verdict.errCode;
      filesKept = verdict.filesKept;
    }
  }

  if (fd >= 0) vestra::FSClose(fd);
  if (gErrCode == kErrNone) {
    // From here on the whole updater runs in debug mode for a debug file.
    if (file.debugText[0] != 0) {
      std::memcpy(gCam.debugText, file.debugText, sizeof gCam.debugText);
      gCam.debugText[sizeof gCam.debugText - 1] = 0;
    }
    return gErrCode;
  }

  LogComparison(file);
  if (!filesKept) DeleteInstallerFiles();
  ShowFailurePanel(kErrorPanel, FailureSound::kAlert);
  return gErrCode;
}
