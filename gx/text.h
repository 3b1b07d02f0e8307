// Drawing, measuring and centring texts in the current port and font.
#pragma once

#include <cstdint>

#include "gx/color.h"
#include "platform/types.h"

void gxDrawString(std::int16_t h, std::int16_t v, const char* text);
std::int16_t gxStringWidth(const char* text);
void gxDrawShadowString(std::int16_t h, std::int16_t v, const char* text, const GXColor* colour,
                        const GXColor* shadowColour, std::int16_t shadowOffset);
void gxDrawStringCentered(const vestra::Rect* rect, std::int16_t vOffset, const char* text);
void gxDrawShadowStringCentered(const vestra::Rect* rect, std::int16_t vOffset, const char* text,
                                const GXColor* colour, const GXColor* shadowColour,
                                std::int16_t shadowOffset);
void gxDrawOutlineString(std::int16_t h, std::int16_t v, std::int16_t outlineWidth,
                         const GXColor* outlineColour, const GXColor* textColour, const char* text);
