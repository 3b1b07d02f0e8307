// The installation run: from the verified code file to a programmed flash ROM, with its progress steps.
#include "install/install.h"

#include "app/entry.h"
#include "app/panel.h"
#include "install/file_access.h"
#include "install/flash_rom.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "panels/panels.h"
#include "platform/hardware.h"
#include "platform/kernel.h"
#include "platform/params.h"
#include "services/log.h"

namespace {

constexpr std::uint32_t kRegionKey = 0x72676E63;  // 'rgnc'

void EnableFlashWriting() {
  vestra::modify32(vestra::kWriteEnableReg0, 0xFFFFFFFF, vestra::kWriteEnableBit);
  vestra::wbflush();
  vestra::taskDelay(1);
  vestra::modify32(vestra::kWriteEnableReg1, ~vestra::kWriteEnableBit, 0);
  vestra::wbflush();
}

void DisableFlashWriting() {
  vestra::modify32(vestra::kWriteEnableReg1, 0xFFFFFFFF, vestra::kWriteEnableBit);
  vestra::wbflush();
}

std::uint32_t ImageLength() {
  return gFile[0].header.trailerOffset - gFile[0].header.headerSize;
}

// Blank checks and erases until the ROM reads blank; the fourth erase gets no further check.
bool FormatRom() {
  for (std::int16_t attempt = 0; attempt < kEraseAttempts; ++attempt) {
    if (BlankChk(vestra::kFlashBase, vestra::kFlashSize) == 0) return true;
    if (FullChipErase() != 0) return false;  // the device hangs: no point in another go
  }
  return false;
}

// Programs the image and reads it back: the file may have changed since it was verified, and the device
// may not have taken every word. Writing is disabled on every path.
std::int16_t ProgramRom() {
  UpdateProgressInfo();
  std::uint32_t count = 0;
  std::uint32_t readDigest = 0;
  const std::int32_t programmed = upgradeROM(&count, gStrCodeFileName, 0, &readDigest);
  DisableFlashWriting();
  if (programmed != 0) {
    LogText("Could not program rom.");
    return -1;
  }
  const std::uint32_t verifiedDigest = gFile[0].imageDigest;
  if (readDigest != verifiedDigest) {
    LogFormat("Image on the card changed after it was verified: expected=%08X read=%08X",
              static_cast<unsigned>(verifiedDigest), static_cast<unsigned>(readDigest));
    return -1;
  }
  // The sum of the file and the digest of what was verified: the sum alone misses bytes that trade places.
  const std::uint32_t expected = gFile[0].header.imageChecksum;
  std::uint32_t flashDigest = 0;
  const std::uint32_t read = FlashByteSum(0, ImageLength(), &flashDigest);
  if (read != expected || flashDigest != verifiedDigest) {
    const bool sumsDiffer = read != expected;
    LogFormat("Flash verify failed: expected=%08X read=%08X",
              static_cast<unsigned>(sumsDiffer ? expected : verifiedDigest),
              static_cast<unsigned>(sumsDiffer ? read : flashDigest));
    return -1;
  }
  return 0;
}

// A debug file for another region moves the camera to the file's region.
void RewriteRegionCode() {
  if (!InDebugMode() || gCam.regionCode == gFile[0].regionCode) return;
  std::uint32_t region = gFile[0].regionCode;
  if (static_cast<std::int16_t>(vestra::PRAMSetKeyedParameter(kRegionKey, &region)) != 0) {
    // The camera's long is 32 bits: a code with the top bit set prints negative there, so it does here too.
    LogFormat("Could not change EEPROM region code (%ld).",
              static_cast<long>(static_cast<std::int32_t>(gFile[0].regionCode)));
    return;
  }
  if (static_cast<std::int16_t>(vestra::pramFlushToEEPROM()) != 0) LogText("Could not flush EEPROM.");
}

}  // namespace

void CalcProgressBarMax() {
  gProgressBarMax = 1 + (ImageLength() >> 14) + 1 + 10;
}

void UpdateProgressInfo() {
  const std::uint32_t old = gProgressBarValue;
  gProgressBarValue += 1;
  Panel4DrawBar(&gPanel[kProgressPanel], static_cast<std::int32_t>(old),
                static_cast<std::int32_t>(gProgressBarValue),
                static_cast<std::int16_t>(gProgressBarMax & 0xFFFF), 1);
}

std::int16_t InstallFiles() {
  std::int16_t result = 0;
  vestra::FILE* stream = nullptr;
  if (open_f(&stream, gStrCodeFileName, kOpenRead) != 0) {
    LogFormat("File %s not found.", gStrCodeFileName);
    gErrCode = kErrMissing;
    result = -1;
  } else {
    close_f(stream);  // opened again for programming
    // A resource block that could not be copied at start-up goes with the erase: the logo icon may live in
    // it, so the updater does without from here on. The sound cues are RAM copies already.
    if (gResourcesInRAM == 0) gLogoIcon = nullptr;
    EnableFlashWriting();
    if (!FormatRom()) {
      LogText("Could not format rom.");
      DisableFlashWriting();
      gErrCode = kErrCorrupt;
      result = -1;
    } else if (ProgramRom() != 0) {
      gErrCode = kErrCorrupt;
      result = -1;
    } else {
      RewriteRegionCode();
    }
  }

  if (result == 0) {
    DeleteInstallerFiles();
  } else {
    ShowFailurePanel(kErrorPanel, FailureSound::kSilent);
  }
  return result;
}
