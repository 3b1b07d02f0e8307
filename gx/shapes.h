// Lines, bevelled frames, gradients, the checkered background and the platform logo.
#pragma once

#include <cstdint>

#include "gx/color.h"
#include "platform/types.h"

void gxDrawLine(std::int16_t hStart, std::int16_t vStart, std::int16_t hEnd, std::int16_t vEnd);
void gxPaintRect(const vestra::Rect* rect, const GXColor* colour);
void gxDrawDepthFrame(const vestra::Rect* rect, std::int16_t depth, std::uint8_t raised, const GXColor* light,
                      const GXColor* dark);
void gxDrawGradientRect(const vestra::Rect* rect, std::int16_t red, std::int16_t green, std::int16_t blue,
                        std::uint8_t acrossWidth, std::uint8_t darkFirst);
void gxDrawCheckeredtRect(const vestra::Rect* rect, std::int16_t cellSize, const GXColor* fillA,
                          const GXColor* fillB, const GXColor* frameA, const GXColor* frameB);
void gxDrawVestraLogo(const vestra::Rect* rect);
