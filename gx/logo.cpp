// The platform's mark: three squares on a three-by-three grid, drawn from rectangles alone.
#include "gx/shapes.h"

#include "platform/graphics.h"

namespace {

void PaintCell(const vestra::Rect* box, int column, int row, int cellWidth, int cellHeight,
               const GXColor* colour) {
  const int left = box->left + column * cellWidth;
  const int top = box->top + row * cellHeight;
  const vestra::Rect cell{static_cast<std::int16_t>(top), static_cast<std::int16_t>(left),
                          static_cast<std::int16_t>(top + cellHeight),
                          static_cast<std::int16_t>(left + cellWidth)};
  vestra::GMRGBForeColor(colour);
  // A box too small (or inverted) for the grid has empty cells: nothing to paint.
  if (cellWidth > 0 && cellHeight > 0) vestra::GMPaintRect(&cell);
}

}  // namespace

void gxDrawVestraLogo(const vestra::Rect* rect) {
  const int cellWidth = (rect->right - rect->left) / 3;
  const int cellHeight = (rect->bottom - rect->top) / 3;
  PaintCell(rect, 2, 0, cellWidth, cellHeight, &gYellow);
  PaintCell(rect, 0, 1, cellWidth, cellHeight, &gBlue);
  PaintCell(rect, 1, 2, cellWidth, cellHeight, &gRed);
}
