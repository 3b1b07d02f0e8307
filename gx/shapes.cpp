// Lines, bevelled frames, gradients and the checkered background.
#include "gx/shapes.h"

#include "gx/coord.h"
#include "platform/graphics.h"

namespace {

// The bevel depth of every checker cell.
constexpr std::int16_t kCellBevel = 5;

}  // namespace

void gxDrawLine(std::int16_t hStart, std::int16_t vStart, std::int16_t hEnd, std::int16_t vEnd) {
  vestra::GMMoveTo(hStart, vStart);
  vestra::GMLineTo(hEnd, vEnd);
}

void gxPaintRect(const vestra::Rect* rect, const GXColor* colour) {
  vestra::GMRGBForeColor(colour);
  vestra::GMPaintRect(rect);
}

void gxDrawDepthFrame(const vestra::Rect* rect, std::int16_t depth, std::uint8_t raised, const GXColor* light,
                      const GXColor* dark) {
  if (depth < 1) depth = 1;
  // Right and bottom name the last column and row inside the rectangle.
  const int top = rect->top;
  const int left = rect->left;
  const int bottom = rect->bottom - 1;
  const int right = rect->right - 1;
  const GXColor* first = raised ? light : dark;
  const GXColor* second = raised ? dark : light;
  for (int i = 0; i < depth; ++i) {
    vestra::GMRGBForeColor(first);
    gxDrawLine(S16(left + i), S16(top + i), S16(right - i), S16(top + i));
    gxDrawLine(S16(left + i), S16(top + i), S16(left + i), S16(bottom - i));
    // Drawn last, so the second colour owns the corners where the two meet.
    vestra::GMRGBForeColor(second);
    gxDrawLine(S16(left + i), S16(bottom - i), S16(right - i), S16(bottom - i));
    gxDrawLine(S16(right - i), S16(top + i), S16(right - i), S16(bottom - i));
  }
}

void gxDrawGradientRect(const vestra::Rect* rect, std::int16_t red, std::int16_t green, std::int16_t blue,
                        std::uint8_t acrossWidth, std::uint8_t darkFirst) {
  const int n = acrossWidth ? rect->right - rect->left : rect->bottom - rect->top;
  if (n <= 0) return;
  const float count = static_cast<float>(n);
  const float stepRed = static_cast<float>(red) / count;
  const float stepGreen = static_cast<float>(green) / count;
  const float stepBlue = static_cast<float>(blue) / count;
  // Truncates toward zero through a wide signed integer, so a stray negative
  // component cannot reach an undefined float-to-unsigned conversion.
  const auto level = [](int i, float step) {
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(static_cast<float>(i) * step));
  };
  for (int i = 0; i < n; ++i) {
    gxRGBForeColor(level(i, stepRed), level(i, stepGreen), level(i, stepBlue));
    const int p = darkFirst ? i : n - 1 - i;
    if (acrossWidth) {
      gxDrawLine(S16(rect->left + p), rect->top, S16(rect->left + p), rect->bottom);
    } else {
      gxDrawLine(rect->left, S16(rect->top + p), rect->right, S16(rect->top + p));
    }
  }
}

void gxDrawCheckeredtRect(const vestra::Rect* rect, std::int16_t cellSize, const GXColor* fillA,
                          const GXColor* fillB, const GXColor* frameA, const GXColor* frameB) {
  // A cell of no size would divide by zero and cover nothing anyway.
  if (cellSize <= 0) return;
  const int s = cellSize;
  const int w = rect->right - rect->left;
  const int h = rect->bottom - rect->top;
  // One cell more than fits, so the grid always overhangs the rectangle and can be centred on it.
  const int columns = (w + s) / s;
  const int rows = (h + s) / s;
  const int marginH = (w - columns * s) >> 1;
  const int marginV = (h - rows * s) >> 1;
  const bool bevelled = frameA != nullptr && frameB != nullptr;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const int cellLeft = rect->left + marginH + c * s;
      const int cellTop = rect->top + marginV + r * s;
      const vestra::Rect cell{S16(cellTop), S16(cellLeft), S16(cellTop + s), S16(cellLeft + s)};
      const bool even = ((c + r) & 1) == 0;
      gxPaintRect(&cell, even ? fillA : fillB);
      if (bevelled) {
        // Light on the bottom-right for fillA cells (sunken), on the top-left for fillB (raised).
        if (even) {
          gxDrawDepthFrame(&cell, kCellBevel, 1, frameB, frameA);
        } else {
          gxDrawDepthFrame(&cell, kCellBevel, 1, frameA, frameB);
        }
      }
    }
  }
}
