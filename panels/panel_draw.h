// What the screens' draw procedures share: the checkered background and lines of table text.
#pragma once

#include <cstdint>
#include <span>

#include "app/strings.h"
#include "gx/color.h"
#include "platform/types.h"

// Which of red, green and blue the background's four levels go into.
enum class PanelHue : std::uint8_t { kRed, kGreen, kBlue, kGrey, kMagenta };

// The content area, with text mode 1 (glyph pixels only) selected.
vestra::Rect BeginPanelDraw();

// Checkerboard of 60-pixel cells, fills at levels 30 and 60, bevels at 70 and 20, all of one hue.
void DrawPanelBackground(const vestra::Rect* content, PanelHue hue);

// One centred line of the camera's string table: the text Rect moves down by step first, and
// size (when not 0) selects (gFontNum, size) before the line.
struct PanelLine {
  std::int16_t step;
  std::int16_t size;
  std::int16_t row;
  const GXColor* colour;
};

// Draws the lines in a 30-pixel text Rect that starts at the content area's top.
void DrawPanelLines(const vestra::Rect* content, std::span<const PanelLine> lines);

// Copies a row of the region's table into a buffer, always terminated, empty for a bad row.
void CopyRow(std::int16_t region, std::int16_t row, char* text, std::size_t size);
