// Colours in RGB and in the platform's luma/chroma form.
#pragma once

#include <cstdint>

#include "platform/types.h"

using GXColor = vestra::RGBColor;

extern GXColor gWhite, gBlack, gRed, gGreen, gBlue, gMagenta, gYellow, gCyan, gOrange, gMidBlue, gDkBlue,
    gGray10, gGray8, gGray4, gGray2, gGray1, gGray0;

void gxSetRGB(std::uint16_t red, std::uint16_t green, std::uint16_t blue, GXColor* out);
void gxSetYCC(std::uint16_t cb, std::uint16_t y, std::uint16_t cr, GXColor* out);
void gxRGB2YCC(const GXColor* in, GXColor* out);
void gxYCC2RGB(const GXColor* in, GXColor* out);
void gxMakeYCC(std::uint16_t red, std::uint16_t green, std::uint16_t blue, GXColor* out);
void gxMakeRGB(std::uint16_t cb, std::uint16_t y, std::uint16_t cr, GXColor* out);
void gxRGBForeColor(std::uint16_t red, std::uint16_t green, std::uint16_t blue);
void gxRGBBackColor(std::uint16_t red, std::uint16_t green, std::uint16_t blue);

// Fills the named colours, in table order.
void gxFillNamedColors();
