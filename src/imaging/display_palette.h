// The display palette: one logical palette made from the GIF's global colour
// table, through which every pixel is drawn, and the painting of the canvas.
#pragma once

#include "platform/win32.h"

extern HPALETTE displayPalette;  // 0 until built, or when creation failed

// Builds the display palette from the animation's global colour table.
void BuildDisplayPalette();

// The whole of WM_PAINT: draws the canvas through the display palette at
// minus the scroll positions.
void PaintCanvas(HWND window);

// WM_QUERYNEWPALETTE: realises the display palette; returns the entries mapped.
LRESULT RealizeForNewPalette(HWND window);

// WM_PALETTECHANGED: realises the display palette again; returns 0.
LRESULT RealizeForPaletteChange(HWND window);

// Exit: deletes the display palette when there is one.
void DeleteDisplayPalette();
