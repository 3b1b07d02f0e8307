// The graphics and LCD manager calls reach the current camera's graphics.
#include "platform/graphics.h"
#include "platform/power.h"
#include "sim/camera.h"
#include "sim/graphics.h"

namespace vestra {
namespace {

sim::Graphics& G() {
  return sim::Current().graphics();
}

}  // namespace

std::int16_t GMInitGraf(std::int32_t flags) {
  return G().initGraf(flags);
}
std::int16_t GMInitFonts() {
  return G().initFonts();
}
std::int16_t GMNewGWorld(GWorldPtr* port, std::int16_t depth, const Rect* bounds, std::int32_t, std::int32_t,
                         std::int32_t) {
  return G().newGWorld(port, depth, bounds);
}
void GMSetPort(GWorldPtr port) {
  G().setPort(port);
}

void GMSetRect(Rect* r, std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom) {
  if (!r) return;
  r->left = left;
  r->top = top;
  r->right = right;
  r->bottom = bottom;
}

void GMOffsetRect(Rect* r, std::int16_t dh, std::int16_t dv) {
  if (!r) return;
  r->left = static_cast<std::int16_t>(r->left + dh);
  r->right = static_cast<std::int16_t>(r->right + dh);
  r->top = static_cast<std::int16_t>(r->top + dv);
  r->bottom = static_cast<std::int16_t>(r->bottom + dv);
}

void GMInsetRect(Rect* r, std::int16_t dh, std::int16_t dv) {
  if (!r) return;
  r->left = static_cast<std::int16_t>(r->left + dh);
  r->right = static_cast<std::int16_t>(r->right - dh);
  r->top = static_cast<std::int16_t>(r->top + dv);
  r->bottom = static_cast<std::int16_t>(r->bottom - dv);
}

void GMRGBForeColor(const RGBColor* colour) {
  G().foreColor(colour);
}
void GMRGBBackColor(const RGBColor* colour) {
  G().backColor(colour);
}
void GMPaintRect(const Rect* r) {
  G().paintRect(r);
}
void GMEraseRect(const Rect* r) {
  G().eraseRect(r);
}
void GMFrameRect(const Rect* r) {
  G().frameRect(r);
}
void GMPenSize(std::int16_t width, std::int16_t height) {
  G().penSize(width, height);
}
void GMMoveTo(std::int16_t h, std::int16_t v) {
  G().moveTo(h, v);
}
void GMLineTo(std::int16_t h, std::int16_t v) {
  G().lineTo(h, v);
}

void GMTextFont(std::int16_t font, std::int16_t size) {
  G().textFont(font, size);
}
void GMTextMode(std::int16_t mode) {
  G().textMode(mode);
}
void GMDrawText(const char* text, std::int16_t first, std::int16_t length) {
  G().drawText(text, first, length);
}
std::int16_t GMTextWidth(const char* text, std::int16_t first, std::int16_t length) {
  return G().textWidth(text, first, length);
}

CIconHandle GMGetCIcon(std::int16_t id) {
  return G().getCIcon(id);
}
void GMPlotCIcon(const Rect* r, CIconHandle icon) {
  G().plotCIcon(r, icon);
}

// Only plain copying exists on this platform; mode and mask are accepted and ignored.
void GMCopyBits(const PixMap* src, const PixMap* dst, const Rect* srcRect, const Rect* dstRect, std::int32_t,
                std::int32_t) {
  G().copyBits(src, dst, srcRect, dstRect);
}

void LMSetupBuffers(void* lcdBase, void* drawBase) {
  G().setupBuffers(lcdBase, drawBase);
}
std::uint8_t LMLCDOn() {
  return G().lcdOn();
}
void LMEnableLCDController(void* lcdBase, void* drawBase) {
  G().enableLcdController(lcdBase, drawBase);
}
void LMSwitchBuffer(void* lcdBase) {
  G().switchBuffer(lcdBase);
}

}  // namespace vestra
