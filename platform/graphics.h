// The graphics manager: offscreen ports, rectangles, pens, text and icons.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace vestra {

// The screen's geometry: the 32-bit draw port the platform's boot screen fills (and the updater draws into),
// and the LCD panel the Y-C-Y-C ports feed.
constexpr std::int16_t kDrawPortWidth = 288;
constexpr std::int16_t kDrawPortHeight = 216;
constexpr std::int16_t kLCDWidth = 360;
constexpr std::int16_t kLCDHeight = 287;

struct PixMap {
  void* baseAddr;  // pixel base address
  std::int16_t rowBytes;
  Rect bounds;
  std::int16_t pixelSize;  // bits per pixel
};
using PixMapPtr = PixMap*;
using PixMapHandle = PixMap**;

// Only the first two words are the platform's published layout.
struct GrafPort {
  std::uint32_t portDevice;
  PixMapHandle portPixMap;
};
using GWorldPtr = GrafPort*;

// A colour icon begins with its pixel map; the platform's data follows.
struct CIcon {
  PixMap iconPMap;
};
using CIconHandle = CIcon**;

std::int16_t GMInitGraf(std::int32_t flags);
std::int16_t GMInitFonts();
std::int16_t GMNewGWorld(GWorldPtr* port, std::int16_t depth, const Rect* bounds, std::int32_t a,
                         std::int32_t b, std::int32_t c);
void GMSetPort(GWorldPtr port);

void GMSetRect(Rect* r, std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom);
void GMOffsetRect(Rect* r, std::int16_t dh, std::int16_t dv);
void GMInsetRect(Rect* r, std::int16_t dh, std::int16_t dv);

void GMRGBForeColor(const RGBColor* colour);
void GMRGBBackColor(const RGBColor* colour);
void GMPaintRect(const Rect* r);
void GMEraseRect(const Rect* r);
void GMFrameRect(const Rect* r);
void GMPenSize(std::int16_t width, std::int16_t height);
void GMMoveTo(std::int16_t h, std::int16_t v);
void GMLineTo(std::int16_t h, std::int16_t v);

void GMTextFont(std::int16_t font, std::int16_t size);
void GMTextMode(std::int16_t mode);
void GMDrawText(const char* text, std::int16_t first, std::int16_t length);
std::int16_t GMTextWidth(const char* text, std::int16_t first, std::int16_t length);

CIconHandle GMGetCIcon(std::int16_t id);
void GMPlotCIcon(const Rect* r, CIconHandle icon);

void GMCopyBits(const PixMap* src, const PixMap* dst, const Rect* srcRect, const Rect* dstRect,
                std::int32_t mode, std::int32_t mask);

}  // namespace vestra
