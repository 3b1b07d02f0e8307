#include "sim/camera.h"
#include "sim/graphics.h"

namespace sim {

void Graphics::setupBuffers(void* lcdBase, void*) {
  if (Port* p = findByBase(lcdBase); p && p->depth == 16) shown_ = p;
}

std::uint8_t Graphics::lcdOn() const {
  return camera_.lcdOn ? 1 : 0;
}

void Graphics::enableLcdController(void* lcdBase, void*) {
  camera_.lcdOn = true;
  ++camera_.lcdEnableCalls;
  if (Port* p = findByBase(lcdBase); p && p->depth == 16) shown_ = p;
}

void Graphics::switchBuffer(void* lcdBase) {
  Port* p = findByBase(lcdBase);
  if (!p || p->depth != 16) return;  // not an LCD buffer: the LCD keeps what it showed
  shown_ = p;
  ++frames_;
  if (observer_) observer_(*shownFrame());
}

const vestra::GrafPort* Graphics::shownPort() const {
  return shown_ ? &shown_->port : nullptr;
}

std::optional<LcdFrame> Graphics::shownFrame() const {
  if (!shown_) return std::nullopt;
  LcdFrame frame;
  frame.words = {shown_->pixels.get(), static_cast<std::size_t>(shown_->wordsPerRow) * shown_->height};
  frame.width = shown_->width;
  frame.height = shown_->height;
  frame.wordsPerRow = shown_->wordsPerRow;
  frame.index = frames_;
  frame.lcdOn = camera_.lcdOn;
  return frame;
}

}  // namespace sim
