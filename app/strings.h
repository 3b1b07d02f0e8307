// The localised screen texts.
#pragma once

#include <cstdint>

struct UIStringEntry {
  std::int16_t font;
  std::int16_t reserved;
  const char* text;
};

constexpr int kUIStringCount = 48;
constexpr std::int16_t kFontStandard = 2;
constexpr std::int16_t kFontJapanese = 30;

extern const UIStringEntry gLUIEnglish[kUIStringCount];
extern const UIStringEntry gLUIJapanese[kUIStringCount];

std::int16_t GetRgnFontNum(std::int16_t region);
const char* GetRgnString(std::int16_t region, std::int16_t row, char* destination);
