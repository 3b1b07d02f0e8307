#include "install/flash_rom.h"

#include "install/file_access.h"
#include "install/install.h"
#include "package/digest.h"
#include "package/file_set.h"
#include "platform/hardware.h"
#include "platform/kernel.h"
#include "services/log.h"

namespace {

// Once an erase starts waiting on the device, a tick-by-tick wait may last as long as the erase wait.
constexpr std::uint32_t kPreEraseTickWaits = kEraseWaits * kEraseWaitTicks;

bool Ready() {
  return (vestra::load16(vestra::kFlashBase) & vestra::kFlashStatusReady) != 0;
}

// A busy loop: the word program is short and interrupts are locked around it.
bool SpinUntilReady() {
  for (std::uint32_t poll = 0; poll < kWordReadyPolls; ++poll) {
    if (Ready()) return true;
  }
  return false;
}

// Sleeps between polls, up to waits times ticks, taking a progress step before each sleep when asked.
bool SleepUntilReady(std::uint32_t waits, std::int32_t ticks, bool step) {
  for (std::uint32_t wait = 0;; ++wait) {
    if (Ready()) return true;
    if (wait == waits) return false;
    if (step) UpdateProgressInfo();
    vestra::taskDelay(ticks);
  }
}

void Command(std::uint16_t word) {
  vestra::store16(vestra::kFlashBase, swap(word));
}

// One 16-bit word, with interrupts locked from the status command until the device has taken it.
bool ProgramWord(std::uint32_t address, std::uint16_t data) {
  const std::int32_t key = vestra::intLock();
  Command(vestra::kFlashReadStatus);
  bool ready = SpinUntilReady();
  if (ready) {
    vestra::store16(address, swap(vestra::kFlashWordProgram));
    vestra::store16(address, data);
    ready = SpinUntilReady();
  }
  vestra::intUnlock(key);
  return ready;
}

}  // namespace

std::uint16_t swap(std::uint16_t word) {
  return word;
}

std::int32_t BlankChk(std::uint32_t address, std::uint32_t length) {
  for (std::uint32_t done = 0; done + 4 <= length; done += 4) {
    if (vestra::load32(address + done) != 0xFFFFFFFF) return 1;
  }
  return 0;
}

std::int32_t FullChipErase() {
  Command(vestra::kFlashReadStatus);
  bool ready = SleepUntilReady(kPreEraseTickWaits, 1, false);
  if (ready) {
    Command(vestra::kFlashChipErase);
    Command(vestra::kFlashConfirm);
    // The erase takes seconds: the bar moves once per wait.
    ready = SleepUntilReady(kEraseWaits, kEraseWaitTicks, true);
  }
  Command(vestra::kFlashReadArray);
  if (!ready) {
    LogText("Flash device not ready.");
    return -1;
  }
  return 0;
}

std::int32_t RL_readdata(vestra::FILE* stream, std::uint32_t offset, std::uint32_t length,
                         std::uint32_t* count, std::uint32_t* digest) {
  std::int32_t result = 0;
  std::uint8_t toggle = 0;
  std::uint32_t address = vestra::kFlashBase + offset;
  // Nothing may reach beyond the flash window, wherever the image starts.
  const std::uint32_t room = offset <= vestra::kFlashSize ? vestra::kFlashSize - offset : 0;
  bool deviceDead = false;
  bool readFailed = false;
  std::uint32_t crc = kCrc32Start;

  while (result == 0 && *count < length) {
    toggle ^= 1;
    if (toggle == 0) UpdateProgressInfo();  // once per two blocks, outside any word's lock

    std::uint32_t bytes = 0;
    result = read_f(stream, rdBuff, kFlashBlockSize, &bytes);
    // Short of the image is a card that failed, not the end of the file: the trailer follows the image.
    // A seek by nothing clears the stream's end-of-file state before the rest of the block is asked for.
    for (std::uint32_t retry = 0;
         bytes < kFlashBlockSize && *count + bytes < length && retry < kCardReadRetries; ++retry) {
      vestra::taskDelay(kCardRetryTicks);
      if (vestra::fseek(stream, 0, vestra::kSeekCurrent) != 0) continue;
      std::uint32_t more = 0;
      read_f(stream, rdBuff + bytes, kFlashBlockSize - bytes, &more);
      bytes += more;
    }
    if (bytes < kFlashBlockSize && *count + bytes < length) readFailed = true;
    *count += bytes;
    if (*count > length) {  // ran into the trailer: it never reaches the flash
      bytes -= *count - length;
      *count = length;
    }
    if (*count > room) {
      *count -= bytes;
      result = -1;
      break;
    }
    crc = Crc32Update(crc, rdBuff, bytes);

    for (std::uint32_t i = 0; i < bytes; i += 2) {
      // An odd image ends in a half word; the erased state pads it without changing any cell.
      const std::uint8_t low = i + 1 < bytes ? rdBuff[i + 1] : 0xFF;
      if (!ProgramWord(address, static_cast<std::uint16_t>((rdBuff[i] << 8) | low))) {
        *count -= bytes - i;
        deviceDead = true;
        break;
      }
      address += 2;
    }
    if (deviceDead) {
      result = -1;
      break;
    }
    if (bytes < kFlashBlockSize) break;  // end of the file, or a read error
  }
  Command(vestra::kFlashReadArray);
  if (deviceDead) LogText("Flash device not ready.");
  if (readFailed) LogText("Could not read the image from the card.");
  if (digest != nullptr) *digest = Crc32Final(crc);
  if (result == 0 && *count < length) result = -1;  // a short image is not an image
  return result;
}

std::int32_t upgradeROM(std::uint32_t* count, const char* path, std::uint32_t offset, std::uint32_t* digest) {
  *count = 0;
  vestra::FILE* stream = nullptr;
  if (open_f(&stream, path, kOpenRead) != 0) return -1;

  const UpdateFileHeader& header = gFile[0].header;
  if (header.headerSize > 0x7FFFFFFF ||
      vestra::fseek(stream, static_cast<std::int32_t>(header.headerSize), vestra::kSeekSet) != 0) {
    LogText("Could not seek pass header.");
    close_f(stream);
    return -1;
  }
  std::uint32_t programmed = 0;
  std::int32_t result = -1;
  if (header.trailerOffset >= header.headerSize) {
    result = RL_readdata(stream, offset, header.trailerOffset - header.headerSize, &programmed, digest);
  }
  *count = programmed;
  const std::int32_t closed = close_f(stream);
  if (closed != 0 && result == 0) result = closed;
  return result;
}

std::int32_t RL_writedata(vestra::FILE* stream, const std::uint8_t* buffer, std::uint32_t length) {
  const std::uint32_t whole = length / kFlashBlockSize;
  for (std::uint32_t block = 0; block < whole; ++block) {
    const std::int32_t result = write_f(stream, buffer + block * kFlashBlockSize, kFlashBlockSize);
    if (result != 0) return result;
  }
  const std::uint32_t rest = length % kFlashBlockSize;
  if (rest != 0) return write_f(stream, buffer + whole * kFlashBlockSize, rest);
  return 0;
}

std::uint32_t FlashByteSum(std::uint32_t offset, std::uint32_t length, std::uint32_t* digest) {
  Command(vestra::kFlashReadArray);
  std::uint32_t sum = 0;
  std::uint32_t crc = kCrc32Start;
  // The words go through the digest a few dozen at a time: one call per word cost more than the digest.
  constexpr std::uint32_t kChunk = 64;
  std::uint8_t chunk[kChunk];
  for (std::uint32_t start = 0; start < length; start += kChunk) {
    const std::uint32_t n = length - start < kChunk ? length - start : kChunk;
    for (std::uint32_t i = 0; i < n; i += 2) {
      const std::uint16_t word = vestra::load16(vestra::kFlashBase + offset + start + i);
      chunk[i] = static_cast<std::uint8_t>(word >> 8);
      sum += chunk[i];
      if (i + 1 < n) {  // an odd length ends in the high byte of its last word
        chunk[i + 1] = static_cast<std::uint8_t>(word);
        sum += chunk[i + 1];
      }
    }
    if (digest != nullptr) crc = Crc32Update(crc, chunk, n);
  }
  if (digest != nullptr) *digest = Crc32Final(crc);
  return sum;
}
