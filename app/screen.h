// Screen rectangles, the soft-key bar and the debug overlay.
#pragma once

#include <cstdint>

#include "app/panel.h"
#include "platform/types.h"

void GetScreenRects(vestra::Rect* content, vestra::Rect* bar, vestra::Rect* screen);
void AppDrawBar(PanelRec* panel);
void AppDrawDebugMessage(std::uint8_t show);
