// The card's file system: descriptors, directories and buffered streams.
// These share names with the host's C library and live apart from it on purpose.
#pragma once

#include <cstdint>

namespace vestra {

// The memory card's drive, B:, by its number.
constexpr std::int16_t kCardDrive = 2;

// FSOpen's flags: one access mode, and any of the others.
constexpr std::int32_t kOpenReadOnly = 0x0000;
constexpr std::int32_t kOpenWriteOnly = 0x0001;
constexpr std::int32_t kOpenReadWrite = 0x0002;
constexpr std::int32_t kOpenAccessMask = 0x0003;
constexpr std::int32_t kOpenAppend = 0x0008;
constexpr std::int32_t kOpenCreate = 0x0200;
constexpr std::int32_t kOpenTruncate = 0x0400;

// Where lseek and fseek count the offset from.
constexpr std::int32_t kSeekSet = 0;
constexpr std::int32_t kSeekCurrent = 1;
constexpr std::int32_t kSeekEnd = 2;

std::int16_t FSDiskDriveAvailable(std::int16_t drive);  // low 8 bits zero: not available
std::int32_t FSOpen(const char* path, std::int32_t flags, std::int32_t mode);  // negative on failure
std::int32_t FSClose(std::int32_t fd);
std::int32_t read(std::int32_t fd, void* buffer, std::uint32_t count);  // 0 at end, negative on error
std::int32_t lseek(std::int32_t fd, std::int32_t offset, std::int32_t whence);

struct DIR;
struct dirent {
  char d_name[256];
};
DIR* opendir(const char* path);
dirent* readdir(DIR* dir);
std::int32_t closedir(DIR* dir);

std::int32_t remove(const char* path);

struct FILE;
constexpr std::int32_t kEOF = -1;
FILE* fopen(const char* path, const char* mode);
std::uint32_t fread(void* buffer, std::uint32_t size, std::uint32_t count, FILE* stream);
std::uint32_t fwrite(const void* buffer, std::uint32_t size, std::uint32_t count, FILE* stream);
std::int32_t fseek(FILE* stream, std::int32_t offset, std::int32_t whence);
std::int32_t fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::int32_t fclose(FILE* stream);

}  // namespace vestra
