// Reading an update file: header, byte sums, tagged trailer.
#pragma once

#include <cstdint>

#include "package/camera_info.h"
#include "package/file_layout.h"

// The readers answer 0, -2 when the bytes were read and are wrong, or kFileUnreadable when the card could not
// deliver them: a read or seek that fails, or a file that ends before the size the card gives it. That says
// nothing about the file.
constexpr std::int16_t kFileUnreadable = -3;

std::int16_t ReadFileHeader(std::int32_t fd, UpdateFileHeader* header);
// 0 when the byte sum of the stretch is expected; *digest, when asked for, receives the stretch's CRC-32.
std::int16_t VerifyChecksum(std::int32_t fd, std::uint32_t offset, std::int32_t length,
                            std::uint32_t expected, std::uint32_t* digest = nullptr);
std::int16_t ReadFileTrailer(std::int32_t fd, CameraInfo* record);
void TagString(std::uint32_t tag, char* text);
