// The update log on the card.
#pragma once

constexpr int kMessageSize = 256;
extern char message[kMessageSize];

// Where the update log lives on the card, once the file names are set.
extern const char* gStrLogFileName;

void LogText(const char* text);
// Formats into message, cut to fit, and logs it.
void LogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
