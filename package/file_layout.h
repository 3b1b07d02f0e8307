// The update file as it lies on the card: a 64-byte header of big-endian words, the image, the tagged
// trailer, "DONE" and the byte sum of everything before that sum. The camera reads it, and the host tools
// that write and inspect update files use the same layout.
#pragma once

#include <cstdint>

#include "package/camera_info.h"
#include "platform/bytes.h"

constexpr std::uint32_t kFileHeaderSize = 64;

// Byte offsets of the header's words.
constexpr std::uint32_t kFileTypeAt = 0;
constexpr std::uint32_t kHeaderSizeAt = 4;
constexpr std::uint32_t kTrailerOffsetAt = 8;
constexpr std::uint32_t kImageChecksumAt = 12;
constexpr std::uint32_t kImageStartAt = 16;
constexpr std::uint32_t kImageEndAt = 20;
constexpr std::uint32_t kReservedAt = 24;
constexpr std::uint32_t kReservedWords = 10;
static_assert(kReservedAt + 4 * kReservedWords == kFileHeaderSize);

// The longest image: it must be less than the 2 MiB flash.
constexpr std::uint32_t kImageSizeLimit = 0x1FFFFF;
// The furthest offset a seek on the card can express.
constexpr std::uint32_t kFileSeekLimit = 0x7FFFFFFF;
// The file's byte sum, its last word.
constexpr std::uint32_t kFileChecksumSize = 4;

inline UpdateFileHeader DecodeFileHeader(const std::uint8_t (&bytes)[kFileHeaderSize]) {
  UpdateFileHeader header{};
  header.fileType = vestra::LoadBE32(bytes + kFileTypeAt);
  header.headerSize = vestra::LoadBE32(bytes + kHeaderSizeAt);
  header.trailerOffset = vestra::LoadBE32(bytes + kTrailerOffsetAt);
  header.imageChecksum = vestra::LoadBE32(bytes + kImageChecksumAt);
  header.imageStart = vestra::LoadBE32(bytes + kImageStartAt);
  header.imageEnd = vestra::LoadBE32(bytes + kImageEndAt);
  for (std::uint32_t i = 0; i < kReservedWords; ++i) {
    header.reserved[i] = vestra::LoadBE32(bytes + kReservedAt + 4 * i);
  }
  return header;
}

inline void EncodeFileHeader(const UpdateFileHeader& header, std::uint8_t (&bytes)[kFileHeaderSize]) {
  vestra::StoreBE32(bytes + kFileTypeAt, header.fileType);
  vestra::StoreBE32(bytes + kHeaderSizeAt, header.headerSize);
  vestra::StoreBE32(bytes + kTrailerOffsetAt, header.trailerOffset);
  vestra::StoreBE32(bytes + kImageChecksumAt, header.imageChecksum);
  vestra::StoreBE32(bytes + kImageStartAt, header.imageStart);
  vestra::StoreBE32(bytes + kImageEndAt, header.imageEnd);
  for (std::uint32_t i = 0; i < kReservedWords; ++i) {
    vestra::StoreBE32(bytes + kReservedAt + 4 * i, header.reserved[i]);
  }
}
