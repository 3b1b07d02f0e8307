// Text at a point, measured, and centred in a rectangle.
#include "gx/text.h"

#include <cstring>

#include "platform/graphics.h"

namespace {

std::int16_t Length(const char* text) {
  return static_cast<std::int16_t>(std::strlen(text));
}

// The centring constants assume the platform's 18-pixel face, whatever size is selected.
constexpr int kLineBox = 18;
constexpr int kBaselineInBox = 16;
constexpr int kCentreBias = 5;

}  // namespace

void gxDrawString(std::int16_t h, std::int16_t v, const char* text) {
  vestra::GMMoveTo(h, v);
  vestra::GMDrawText(text, 0, Length(text));
}

std::int16_t gxStringWidth(const char* text) {
  return vestra::GMTextWidth(text, 0, Length(text));
}

// The camera's screens show their text flat: the shadow colour and offset are part of the call that every
// screen makes, but the text is drawn once and without a shadow, as the screens look on the camera.
void gxDrawShadowString(std::int16_t h, std::int16_t v, const char* text, const GXColor* colour,
                        const GXColor* /*shadowColour*/, std::int16_t /*shadowOffset*/) {
  vestra::GMRGBForeColor(colour);
  gxDrawString(h, v, text);
}

void gxDrawStringCentered(const vestra::Rect* rect, std::int16_t vOffset, const char* text) {
  const int w = gxStringWidth(text);
  const auto h = static_cast<std::int16_t>(rect->left + ((rect->right - rect->left - kCentreBias - w) >> 1));
  const int v = vOffset != 0 ? rect->top + vOffset
                             : rect->top + ((rect->bottom - rect->top - kLineBox) >> 1) + kBaselineInBox;
  gxDrawString(h, static_cast<std::int16_t>(v), text);
}

void gxDrawShadowStringCentered(const vestra::Rect* rect, std::int16_t vOffset, const char* text,
                                const GXColor* colour, const GXColor* /*shadowColour*/,
                                std::int16_t /*shadowOffset*/) {  // flat, as gxDrawShadowString
  vestra::GMRGBForeColor(colour);
  gxDrawStringCentered(rect, vOffset, text);
}

void gxDrawOutlineString(std::int16_t h, std::int16_t v, std::int16_t outlineWidth,
                         const GXColor* outlineColour, const GXColor* textColour, const char* text) {
  const int d = outlineWidth;
  vestra::GMRGBForeColor(outlineColour);
  const int offsets[4][2] = {{-d, -d}, {d, -d}, {-d, d}, {d, d}};
  for (const auto& offset : offsets) {
    gxDrawString(static_cast<std::int16_t>(h + offset[0]), static_cast<std::int16_t>(v + offset[1]), text);
  }
  vestra::GMRGBForeColor(textColour);
  gxDrawString(h, v, text);
}
