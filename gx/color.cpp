// RGB <-> luma/chroma, computed in exactly the order that fixes the last bit of each result.
#include "gx/color.h"

#include "platform/graphics.h"

namespace {

constexpr std::uint16_t kComponentFloor = 16;

// Inputs above 255 could go negative; nobody passes them, but the cast must stay defined.
std::uint16_t Truncate(double value) {
  if (value < 0.0) return 0;
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFF);
}

std::uint16_t Floor16(std::uint16_t value) {
  return value < kComponentFloor ? kComponentFloor : value;
}

std::uint16_t ClampTruncate(float value) {
  if (value < 0.0f) value = 0.0f;
  if (value > 255.0f) value = 255.0f;
  return static_cast<std::uint16_t>(value);
}

struct NamedColor {
  GXColor* colour;
  std::uint16_t red, green, blue;
};

}  // namespace

void gxSetRGB(std::uint16_t red, std::uint16_t green, std::uint16_t blue, GXColor* out) {
  out->red = red;
  out->green = green;
  out->blue = blue;
}

void gxSetYCC(std::uint16_t cb, std::uint16_t y, std::uint16_t cr, GXColor* out) {
  gxSetRGB(cb, y, cr, out);
}

void gxRGB2YCC(const GXColor* in, GXColor* out) {
  const GXColor rgb = *in;
  const double r = rgb.red;
  const double g = rgb.green;
  const double b = rgb.blue;
  const double y = (0.299 * r + 0.587 * g) + 0.114 * b;
  const double cb = ((-(0.1687 * r) - 0.3313 * g) + 0.5 * b) + 128;
  const double cr = ((0.5 * r - 0.4187 * g) - 0.0813 * b) + 128;
  out->green = Floor16(Truncate(y));
  out->red = Floor16(Truncate(cb));
  out->blue = Floor16(Truncate(cr));
}

void gxYCC2RGB(const GXColor* in, GXColor* out) {
  const GXColor ycc = *in;
  const double cb = ycc.red;
  const double y = ycc.green;
  const double cr = ycc.blue;
  const auto r = static_cast<float>(y + 1.402 * (cr - 128));
  const auto g = static_cast<float>((y - 0.34414 * (cb - 128)) - 0.71414 * (cr - 128));
  const auto b = static_cast<float>(y + 1.772 * (cb - 128));
  out->red = ClampTruncate(r);
  out->green = ClampTruncate(g);
  out->blue = ClampTruncate(b);
}

void gxMakeYCC(std::uint16_t red, std::uint16_t green, std::uint16_t blue, GXColor* out) {
  GXColor rgb;
  gxSetRGB(red, green, blue, &rgb);
  gxRGB2YCC(&rgb, out);
}

void gxMakeRGB(std::uint16_t cb, std::uint16_t y, std::uint16_t cr, GXColor* out) {
  GXColor ycc;
  gxSetYCC(cb, y, cr, &ycc);
  gxYCC2RGB(&ycc, out);
}

void gxRGBForeColor(std::uint16_t red, std::uint16_t green, std::uint16_t blue) {
  GXColor colour;
  gxMakeYCC(red, green, blue, &colour);
  vestra::GMRGBForeColor(&colour);
}

void gxRGBBackColor(std::uint16_t red, std::uint16_t green, std::uint16_t blue) {
  GXColor colour;
  gxMakeYCC(red, green, blue, &colour);
  vestra::GMRGBBackColor(&colour);
}

void gxFillNamedColors() {
  const NamedColor table[] = {
      {&gWhite, 255, 255, 255}, {&gBlack, 0, 0, 0},       {&gRed, 255, 0, 0},      {&gGreen, 0, 255, 0},
      {&gBlue, 0, 0, 200},      {&gMagenta, 255, 0, 255}, {&gYellow, 255, 255, 0}, {&gCyan, 0, 255, 255},
      {&gOrange, 255, 176, 55}, {&gMidBlue, 0, 0, 60},    {&gDkBlue, 0, 0, 20},    {&gGray10, 128, 128, 128},
      {&gGray8, 80, 80, 80},    {&gGray4, 40, 40, 40},    {&gGray2, 20, 20, 20},   {&gGray1, 10, 10, 10},
      {&gGray0, 5, 5, 5},
  };
  for (const NamedColor& named : table) gxMakeYCC(named.red, named.green, named.blue, named.colour);
}
