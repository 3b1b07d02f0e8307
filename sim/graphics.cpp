#include "sim/graphics.h"

#include <algorithm>
#include <cstring>

#include "sim/camera.h"
#include "sim/font.h"

namespace sim {
namespace {

constexpr std::int16_t kParamErr = -50;
constexpr std::int16_t kMemFullErr = -108;
constexpr int kMaxPortSide = 4096;
constexpr int kMaxPen = 1024;

std::uint8_t Component(std::uint16_t v) {
  return static_cast<std::uint8_t>(std::min<std::uint16_t>(v, 255));
}

Ycc FromRgbColor(const vestra::RGBColor& c) {
  // The platform reads the fields as Cb, Y, Cr.
  return {Component(c.red), Component(c.green), Component(c.blue)};
}

}  // namespace

Graphics::Graphics(Camera& camera)
    : camera_(camera),
      drawPixels_(camera.options().drawPixels),
      // Text is only placed, never seen: the built-in font measures it without loading the system's fonts,
      // which costs more than such a run.
      forceFallback_(!drawPixels_) {
  camera_.lcdOn = camera_.profile().power.lcdOn;
}

Graphics::~Graphics() = default;

Graphics::Port* Graphics::find(const vestra::GrafPort* port) const {
  if (!port) return nullptr;
  for (const auto& p : ports_) {
    if (&p->port == port) return p.get();
  }
  return nullptr;
}

Graphics::Port* Graphics::findByBase(const void* base) const {
  if (!base) return nullptr;
  for (const auto& p : ports_) {
    if (p->pixels.get() == base) return p.get();
  }
  return nullptr;
}

Graphics::Port* Graphics::findByPixMap(const vestra::PixMap* pixMap) const {
  if (!pixMap) return nullptr;
  for (const auto& p : ports_) {
    if (&p->pixMap == pixMap) return p.get();
  }
  return nullptr;
}

void Graphics::noteDrawing() {
  if (camera_.interruptsLocked) ++camera_.faultsInsideLock;
}

std::int16_t Graphics::initGraf(std::int32_t) {
  initialised_ = true;
  return 0;
}

std::int16_t Graphics::initFonts() {
  return 0;
}

std::int16_t Graphics::newGWorld(vestra::GWorldPtr* out, std::int16_t depth, const vestra::Rect* bounds) {
  if (!out) return kParamErr;
  *out = nullptr;
  if (!bounds || (depth != 32 && depth != 16)) return kParamErr;
  const int width = bounds->right - bounds->left;
  const int height = bounds->bottom - bounds->top;
  if (width <= 0 || height <= 0) return kParamErr;
  if (width > kMaxPortSide || height > kMaxPortSide) return kMemFullErr;

  auto port = std::make_unique<Port>();
  port->depth = depth;
  port->left = bounds->left;
  port->top = bounds->top;
  port->width = width;
  port->height = height;
  port->wordsPerRow = depth == 32 ? width : (width + 1) / 2;
  const std::size_t words = static_cast<std::size_t>(port->wordsPerRow) * height;
  // Zeroed rather than black: a port the module forgot to clear shows up green in the frames.
  port->pixels.reset(static_cast<std::uint32_t*>(std::calloc(words, sizeof(std::uint32_t))));
  if (!port->pixels) return kMemFullErr;
  port->pixMap.baseAddr = port->pixels.get();
  port->pixMap.rowBytes = static_cast<std::int16_t>(port->wordsPerRow * 4);
  port->pixMap.bounds = *bounds;
  port->pixMap.pixelSize = depth;
  port->pixMapPtr = &port->pixMap;
  port->port.portDevice = 0;
  port->port.portPixMap = &port->pixMapPtr;
  *out = &port->port;
  ports_.push_back(std::move(port));
  return 0;
}

void Graphics::setPort(vestra::GWorldPtr port) {
  current_ = find(port);
}

const vestra::GrafPort* Graphics::currentPort() const {
  return current_ ? &current_->port : nullptr;
}

std::vector<const vestra::GrafPort*> Graphics::ports() const {
  std::vector<const vestra::GrafPort*> all;
  for (const auto& p : ports_) all.push_back(&p->port);
  return all;
}

void Graphics::foreColor(const vestra::RGBColor* colour) {
  if (colour) fore_ = FromRgbColor(*colour);
}

void Graphics::backColor(const vestra::RGBColor* colour) {
  if (colour) back_ = FromRgbColor(*colour);
}

void Graphics::fill(Port& port, int left, int top, int right, int bottom, Ycc colour) {
  if (!drawPixels_) return;
  left = std::max(left, port.left) - port.left;
  top = std::max(top, port.top) - port.top;
  right = std::min(right, port.left + port.width) - port.left;
  bottom = std::min(bottom, port.top + port.height) - port.top;
  if (left >= right || top >= bottom) return;
  // The first row is filled word by word, the others copied from it: the C library's copy moves many words
  // an instruction, where a fill of one repeated word stays a word at a time.
  const auto fillWords = [&port, top, bottom](int from, int to, std::uint32_t word) {
    if (from >= to) return;
    std::uint32_t* first = port.pixels.get() + static_cast<std::size_t>(top) * port.wordsPerRow + from;
    std::fill(first, first + (to - from), word);
    const std::size_t bytes = static_cast<std::size_t>(to - from) * sizeof word;
    for (int y = top + 1; y < bottom; ++y) {
      std::memcpy(port.pixels.get() + static_cast<std::size_t>(y) * port.wordsPerRow + from, first, bytes);
    }
  };
  if (port.depth == 32) {
    fillWords(left, right, PackDrawPixel(colour));
    return;
  }
  // Whole pixel pairs take one word; an odd pixel at either end shares its word with a pixel outside.
  const int pairsFrom = (left + 1) / 2;
  const int pairsTo = right / 2;
  const std::uint32_t pair = (std::uint32_t{colour.y} << 24) | (std::uint32_t{colour.cb} << 16) |
                             (std::uint32_t{colour.y} << 8) | colour.cr;
  fillWords(pairsFrom, pairsTo, pair);
  for (int y = top; y < bottom; ++y) {
    if (left % 2 != 0) port.put(left, y, colour);
    if (right % 2 != 0 && right - 1 >= left + (left % 2)) port.put(right - 1, y, colour);
  }
}

void Graphics::paintRect(const vestra::Rect* r) {
  noteDrawing();
  if (r && current_) fill(*current_, r->left, r->top, r->right, r->bottom, fore_);
}

void Graphics::eraseRect(const vestra::Rect* r) {
  noteDrawing();
  if (r && current_) fill(*current_, r->left, r->top, r->right, r->bottom, back_);
}

void Graphics::frameRect(const vestra::Rect* r) {
  noteDrawing();
  if (!r || !current_ || r->left >= r->right || r->top >= r->bottom) return;
  if (penWidth_ == 0 || penHeight_ == 0) return;
  Port& p = *current_;
  // The pen draws inside the rectangle: rows at top and bottom, columns at left and right.
  fill(p, r->left, r->top, r->right, std::min<int>(r->top + penHeight_, r->bottom), fore_);
  fill(p, r->left, std::max<int>(r->bottom - penHeight_, r->top), r->right, r->bottom, fore_);
  fill(p, r->left, r->top, std::min<int>(r->left + penWidth_, r->right), r->bottom, fore_);
  fill(p, std::max<int>(r->right - penWidth_, r->left), r->top, r->right, r->bottom, fore_);
}

void Graphics::penSize(std::int16_t width, std::int16_t height) {
  penWidth_ = std::clamp<int>(width, 0, kMaxPen);
  penHeight_ = std::clamp<int>(height, 0, kMaxPen);
}

void Graphics::moveTo(std::int16_t h, std::int16_t v) {
  penH_ = h;
  penV_ = v;
}

void Graphics::plotPen(Port& port, int h, int v) {
  fill(port, h, v, h + penWidth_, v + penHeight_, fore_);
}

void Graphics::lineTo(std::int16_t h, std::int16_t v) {
  noteDrawing();
  if (current_ && penWidth_ > 0 && penHeight_ > 0 && (h == penH_ || v == penV_)) {
    // A straight line is one span of pen squares: the same pixels as the walk below, in one fill.
    fill(*current_, std::min<int>(penH_, h), std::min<int>(penV_, v), std::max<int>(penH_, h) + penWidth_,
         std::max<int>(penV_, v) + penHeight_, fore_);
  } else if (current_ && penWidth_ > 0 && penHeight_ > 0) {
    // Bresenham over the whole line, both ends included; each point is clipped on its own, so the pixels
    // inside the port are the same whatever part of the line lies outside.
    int x = penH_;
    int y = penV_;
    const int dx = std::abs(h - x);
    const int dy = -std::abs(v - y);
    const int sx = x < h ? 1 : -1;
    const int sy = y < v ? 1 : -1;
    int err = dx + dy;
    for (;;) {
      plotPen(*current_, x, y);
      if (x == h && y == v) break;
      const int e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y += sy;
      }
    }
  }
  penH_ = h;
  penV_ = v;
}

std::optional<Ycc> Graphics::pixel(const vestra::GrafPort* port, int h, int v) const {
  const Port* p = find(port);
  if (!p) return std::nullopt;
  const int x = h - p->left;
  const int y = v - p->top;
  if (x < 0 || y < 0 || x >= p->width || y >= p->height) return std::nullopt;
  return p->get(x, y);
}

void Graphics::clearRecords() {
  texts_.clear();
  iconPlots_.clear();
}

}  // namespace sim
