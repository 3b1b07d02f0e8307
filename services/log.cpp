// The update log: one line per call, appended, the file opened and closed each time.
#include "services/log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/files.h"

void LogText(const char* text) {
  vestra::FILE* log = vestra::fopen(gStrLogFileName, "a");
  if (log == nullptr) return;
  vestra::fprintf(log, "%s\r\n", text);
  vestra::fclose(log);
}

void LogFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  LogText(message);
}
