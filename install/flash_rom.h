// The flash ROM: blank check, full-chip erase and word-by-word programming of the image, straight from the
// card, through the device's command register.
#pragma once

#include <cstdint>

#include "platform/files.h"

constexpr std::uint32_t kFlashBlockSize = 0x2000;  // one block of the image in rdBuff

// How long a status wait may last before the device counts as dead.
constexpr std::uint32_t kWordReadyPolls = 100000;
constexpr std::uint32_t kEraseWaits = 600;  // of kEraseWaitTicks each
constexpr std::int32_t kEraseWaitTicks = 100;
// The old image is gone while the new one is read: a card read that comes up short is tried again this many
// times, this many ticks apart, before the programming gives up.
constexpr std::uint32_t kCardReadRetries = 3;
constexpr std::int32_t kCardRetryTicks = 10;

extern std::uint8_t rdBuff[kFlashBlockSize];

// The bus-lane adaptor every command word passes through.
std::uint16_t swap(std::uint16_t word);

// 0 when every 32-bit word of [address, address + length) reads all ones, 1 at the first that does not.
std::int32_t BlankChk(std::uint32_t address, std::uint32_t length);
// Erases the whole device and leaves it in read-array mode. 0 once the device reported ready; -1 (and
// "Flash device not ready." in the log) when it did not within the bounded wait.
std::int32_t FullChipErase();
// Programs the image of the update file at path (the code file's header locates it) at the flash offset.
// 0 only when the whole image was programmed; *count receives the image bytes read and programmed.
// *digest, when asked for, receives the CRC-32 of the image bytes as they were read for programming.
std::int32_t upgradeROM(std::uint32_t* count, const char* path, std::uint32_t offset,
                        std::uint32_t* digest = nullptr);
// Programs length bytes from the stream's current position at the flash offset; *count (0 on entry) ends
// at the bytes programmed. 0 only when all length bytes were read and programmed. A read that comes up short
// of the image is retried a few times before the programming fails. *digest as for upgradeROM.
std::int32_t RL_readdata(vestra::FILE* stream, std::uint32_t offset, std::uint32_t length,
                         std::uint32_t* count, std::uint32_t* digest = nullptr);
// Writes length bytes to the stream in blocks of kFlashBlockSize; the first failing block's result.
std::int32_t RL_writedata(vestra::FILE* stream, const std::uint8_t* buffer, std::uint32_t length);
// The byte sum of length bytes of the flash from the offset (even), read in read-array mode; *digest, when
// asked for, receives their CRC-32.
std::uint32_t FlashByteSum(std::uint32_t offset, std::uint32_t length, std::uint32_t* digest = nullptr);
