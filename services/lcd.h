// Showing the draw port on the LCD.
#pragma once

void UpdateLCD();
