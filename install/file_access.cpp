#include "install/file_access.h"

std::int32_t open_f(vestra::FILE** stream, const char* path, std::uint32_t mode) {
  const char* stdioMode = mode == kOpenRead ? "rb" : mode == kOpenWrite ? "wb" : nullptr;
  *stream = stdioMode != nullptr ? vestra::fopen(path, stdioMode) : nullptr;
  return *stream != nullptr ? 0 : -1;
}

std::int32_t read_f(vestra::FILE* stream, void* buffer, std::uint32_t count, std::uint32_t* countRead) {
  *countRead = vestra::fread(buffer, 1, count, stream);
  return 0;
}

std::int32_t write_f(vestra::FILE* stream, const void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  return vestra::fwrite(buffer, 1, count, stream) == count ? 0 : -1;
}

std::int32_t close_f(vestra::FILE* stream) {
  return vestra::fclose(stream);
}

// Creating and removing complete the layer's vocabulary; the update files are removed elsewhere.
std::int32_t create_f(const char*, std::int32_t, std::int32_t) {
  return 0;
}
std::int32_t remove_f(const char*) {
  return 0;
}
