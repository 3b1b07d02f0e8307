#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/bytes.h"
#include "platform/resources.h"
#include "sim/camera.h"
#include "sim/graphics.h"

namespace sim {
namespace {

constexpr std::uint32_t kColorIconType = 0x6369636E;  // 'cicn'
constexpr int kMaxIconSide = 1024;

std::uint8_t Clamp8(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// JFIF forward transform, full range, rounded.
Ycc RgbToYcc(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const double y = 0.299 * r + 0.587 * g + 0.114 * b;
  const double cb = 128 - 0.168736 * r - 0.331264 * g + 0.5 * b;
  const double cr = 128 + 0.5 * r - 0.418688 * g - 0.081312 * b;
  return {Clamp8(cb), Clamp8(y), Clamp8(cr)};
}

}  // namespace

Graphics::Icon* Graphics::findIcon(vestra::CIconHandle handle) const {
  if (!handle) return nullptr;
  for (const auto& icon : icons_) {
    if (&icon->master == handle) return icon.get();
  }
  return nullptr;
}

vestra::CIconHandle Graphics::getCIcon(std::int16_t id) {
  const vestra::RMResourceKey key{kColorIconType, id, 0};
  void* data = nullptr;
  std::uint32_t size = 0;
  if (vestra::RMGetResource(&key, &data, &size) != 0 || !data || size < 4) return nullptr;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const int width = vestra::LoadBE16(bytes);
  const int height = vestra::LoadBE16(bytes + 2);
  if (width <= 0 || height <= 0 || width > kMaxIconSide || height > kMaxIconSide) return nullptr;
  const std::size_t count = static_cast<std::size_t>(width) * height;
  if (size - 4 < count * 3) return nullptr;  // a truncated resource is as good as none

  auto icon = std::make_unique<Icon>();
  icon->inFlash = camera_.ResourcesInFlash();
  icon->width = width;
  icon->height = height;
  icon->pixels = std::make_unique<std::uint32_t[]>(count);
  // Icons are drawn in a few flat colours: a pixel like the one before takes its conversion.
  const std::uint8_t* rgb = bytes + 4;
  std::uint32_t packed = 0;
  for (std::size_t i = 0; i < count; ++i, rgb += 3) {
    if (i == 0 || std::memcmp(rgb, rgb - 3, 3) != 0) packed = PackDrawPixel(RgbToYcc(rgb[0], rgb[1], rgb[2]));
    icon->pixels[i] = packed;
  }
  icon->icon.iconPMap.baseAddr = icon->pixels.get();
  icon->icon.iconPMap.rowBytes = static_cast<std::int16_t>(width * 4);
  icon->icon.iconPMap.bounds = {0, 0, static_cast<std::int16_t>(height), static_cast<std::int16_t>(width)};
  icon->icon.iconPMap.pixelSize = 32;
  icon->master = &icon->icon;
  vestra::CIconHandle handle = &icon->master;
  icons_.push_back(std::move(icon));
  return handle;
}

void Graphics::plotCIcon(const vestra::Rect* r, vestra::CIconHandle handle) {
  noteDrawing();
  if (!r) return;
  iconPlots_.push_back({*r});
  const Icon* icon = findIcon(handle);
  if (icon != nullptr && icon->inFlash && camera_.FlashEraseBegan()) ++camera_.flashResourceReads;
  if (!icon || !current_ || !drawPixels_) return;
  Port& p = *current_;
  // Drawn from the rectangle's top-left corner at its own size, cut to the rectangle and the port.
  const int left = std::max<int>(r->left, p.left);
  const int top = std::max<int>(r->top, p.top);
  const int right = std::min<int>({r->right, r->left + icon->width, p.left + p.width});
  const int bottom = std::min<int>({r->bottom, r->top + icon->height, p.top + p.height});
  for (int v = top; v < bottom; ++v) {
    const std::uint32_t* src = icon->pixels.get() + static_cast<std::size_t>(v - r->top) * icon->width;
    for (int h = left; h < right; ++h) p.put(h - p.left, v - p.top, UnpackDrawPixel(src[h - r->left]));
  }
}

}  // namespace sim
