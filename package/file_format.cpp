// Taking an update file apart: the header, byte sums over stretches, and the tagged trailer.
#include "package/file_format.h"

#include <cstring>

#include "package/digest.h"
#include "package/tags.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "services/log.h"

namespace {

constexpr std::uint32_t kSumBlockSize = 1024;
constexpr std::uint32_t kLargestItemData = kTextFieldSize;

// Whole blocks are summed in sixteen 16-bit columns: a row of sixteen bytes is a few vector instructions
// where the compiler has them, and a column of 64 rows of at most 255 stays below 2^16. The check of a full
// image sums some 4 MiB.
std::uint32_t SumBytes(const std::uint8_t* bytes, std::uint32_t count) {
  constexpr std::uint32_t kColumns = 16;
  static_assert(kSumBlockSize % kColumns == 0 && kSumBlockSize / kColumns * 255 <= 0xFFFF);
  std::uint32_t sum = 0;
  if (count == kSumBlockSize) {
    std::uint16_t columns[kColumns] = {};
    for (std::uint32_t row = 0; row < kSumBlockSize; row += kColumns) {
      for (std::uint32_t c = 0; c < kColumns; ++c)
        columns[c] = static_cast<std::uint16_t>(columns[c] + bytes[row + c]);
    }
    for (const std::uint16_t column : columns) sum += column;
  } else {
    for (std::uint32_t i = 0; i < count; ++i) sum += bytes[i];
  }
  return sum;
}

// The camera reads a tag's data straight into its field: a read cut short by the end of the file leaves the
// bytes that did arrive at the front of the field and the rest as it was. Numbers are kept in host order, so
// their big-endian image is patched instead.
void StoreTagData(const TrailerTag& row, const std::uint8_t* data, std::uint32_t count, CameraInfo* record) {
  if (count > row.width) count = row.width;
  if (row.number != nullptr) {
    std::uint8_t image[4];
    vestra::StoreBE32(image, record->*(row.number));
    std::memcpy(image, data, count);
    record->*(row.number) = vestra::LoadBE32(image);
  } else {
    // The texts are compared, copied and shown as zero-terminated texts later: one
    // without a terminator is cut at the field's last byte rather than read past it.
    char* field = record->*(row.text);
    std::memcpy(field, data, count);
    field[kTextFieldSize - 1] = 0;
  }
}

// A read that came up short of `end` (the offset just past what was asked for): the file's own end, or a card
// that stopped delivering before it. The file's size, as the card gives it, tells which.
std::int16_t ShortRead(std::int32_t fd, std::int32_t got, std::uint32_t end) {
  if (got < 0) return kFileUnreadable;
  const std::int32_t size = vestra::lseek(fd, 0, vestra::kSeekEnd);
  if (size < 0 || static_cast<std::uint32_t>(size) >= end) return kFileUnreadable;
  return -2;
}

}  // namespace

std::int16_t ReadFileHeader(std::int32_t fd, UpdateFileHeader* header) {
  std::uint8_t bytes[kFileHeaderSize];
  const std::int32_t got = vestra::read(fd, bytes, sizeof bytes);
  if (got != static_cast<std::int32_t>(sizeof bytes)) return ShortRead(fd, got, sizeof bytes);
  *header = DecodeFileHeader(bytes);
  return 0;
}

std::int16_t VerifyChecksum(std::int32_t fd, std::uint32_t offset, std::int32_t length,
                            std::uint32_t expected, std::uint32_t* digest) {
  // An offset beyond what a seek can express cannot be reached, and a failed seek must not
  // pass for a position that happens to equal its error value.
  if (offset > kFileSeekLimit) return -2;
  const std::int32_t position = vestra::lseek(fd, static_cast<std::int32_t>(offset), vestra::kSeekSet);
  if (position < 0 || static_cast<std::uint32_t>(position) != offset) return kFileUnreadable;

  std::uint8_t block[kSumBlockSize];
  std::uint32_t sum = 0;
  std::uint32_t crc = kCrc32Start;
  std::int32_t consumed = 0;
  while (consumed < length) {
    const std::uint32_t left = static_cast<std::uint32_t>(length - consumed);
    const std::int32_t got = vestra::read(fd, block, left < kSumBlockSize ? left : kSumBlockSize);
    // A partial sum after a read error says nothing about the file; the stretch of a file that really ends
    // early is summed as far as it goes and fails as damaged.
    if (got <= 0) {
      if (ShortRead(fd, got, offset + static_cast<std::uint32_t>(length)) != -2) return kFileUnreadable;
      break;
    }
    sum += SumBytes(block, static_cast<std::uint32_t>(got));
    if (digest != nullptr) crc = Crc32Update(crc, block, static_cast<std::uint32_t>(got));
    consumed += got;
  }
  if (digest != nullptr) *digest = Crc32Final(crc);
  if (sum == expected) return 0;
  LogFormat("CHKSUM: requiredChecksum=%08X vs. calculated=%08X", static_cast<unsigned>(expected),
            static_cast<unsigned>(sum));
  return -2;
}

std::int16_t ReadFileTrailer(std::int32_t fd, CameraInfo* record) {
  const std::uint32_t trailerOffset = record->header.trailerOffset;
  const std::int32_t position =
      trailerOffset > kFileSeekLimit
          ? -1
          : vestra::lseek(fd, static_cast<std::int32_t>(trailerOffset), vestra::kSeekSet);
  if (position < 0 && trailerOffset <= kFileSeekLimit) return kFileUnreadable;
  if (position < 0 || static_cast<std::uint32_t>(position) != trailerOffset) {
    LogText("Could not seek to trailer offset.");
    return -2;
  }
  record->debugText[0] = 0;

  std::uint32_t at = trailerOffset;
  bool done = false;
  while (!done) {
    std::uint8_t tagBytes[4];
    const std::int32_t got = vestra::read(fd, tagBytes, sizeof tagBytes);
    if (got != static_cast<std::int32_t>(sizeof tagBytes)) {
      if (ShortRead(fd, got, at + sizeof tagBytes) != -2) return kFileUnreadable;
      if (got == 0) break;
      LogText("Could not read tag type.");
      return -2;
    }
    at += sizeof tagBytes;
    const std::uint32_t tag = vestra::LoadBE32(tagBytes);
    char tagText[5];
    const TrailerTag* row = FindTrailerTag(tag);
    if (row == nullptr) {
      TagString(tag, tagText);
      LogFormat("Unknown tag (%s) found.", tagText);
      return -2;
    }
    std::uint8_t data[kLargestItemData];
    const std::int32_t arrived = vestra::read(fd, data, row->width);
    if (arrived != static_cast<std::int32_t>(row->width) && ShortRead(fd, arrived, at + row->width) != -2) {
      return kFileUnreadable;
    }
    StoreTagData(*row, data, arrived > 0 ? static_cast<std::uint32_t>(arrived) : 0, record);
    at += row->width;
    if (arrived != static_cast<std::int32_t>(row->width)) {
      TagString(tag, tagText);
      LogFormat("Could not read tag (%s) data.", tagText);
      return -2;
    }
    done = tag == kTagDone;
  }
  if (!done) {
    LogText("'DONE' tag not found");
    return -2;
  }
  return 0;
}

void TagString(std::uint32_t tag, char* text) {
  text[0] = static_cast<char>(tag >> 24);
  text[1] = static_cast<char>(tag >> 16);
  text[2] = static_cast<char>(tag >> 8);
  text[3] = static_cast<char>(tag);
  text[4] = 0;
}
