// The installation's files: stdio streams behind one convention, 0 for success and -1 for failure.
#pragma once

#include <cstdint>

#include "platform/files.h"

constexpr std::uint32_t kOpenRead = 0;
constexpr std::uint32_t kOpenWrite = 1;

// Always stores the stream (null when nothing was opened).
std::int32_t open_f(vestra::FILE** stream, const char* path, std::uint32_t mode);
// Always 0: end of file and errors show as a short *countRead.
std::int32_t read_f(vestra::FILE* stream, void* buffer, std::uint32_t count, std::uint32_t* countRead);
std::int32_t write_f(vestra::FILE* stream, const void* buffer, std::uint32_t count);
// The stream library's own close result.
std::int32_t close_f(vestra::FILE* stream);
std::int32_t create_f(const char* path, std::int32_t a, std::int32_t b);
std::int32_t remove_f(const char* path);
