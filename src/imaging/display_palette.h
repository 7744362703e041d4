// The display palette: one logical palette made from the GIF's global colour
// table, through which every pixel is drawn, and the painting of the canvas.
#pragma once

#include <cstdint>

#include "platform/win32.h"

extern HPALETTE displayPalette;  // null until built, or when creation failed

// Builds the display palette from the animation's global colour table:
// `count` colours (red | green << 8 | blue << 16), entry i from colours[i].
// A palette that cannot be made leaves it null, unreported.
void BuildDisplayPalette(const uint32_t* colours, int32_t count);

// The whole of WM_PAINT: draws the whole canvas through the display palette
// at minus the scroll positions. Never realises the palette.
void PaintCanvas(HWND window);

// WM_QUERYNEWPALETTE: realises the display palette; returns the number of
// entries mapped into the system palette.
LRESULT RealizeForNewPalette(HWND window);

// WM_PALETTECHANGED, whichever window caused it: realises the display palette
// again; returns 0. Neither message repaints.
LRESULT RealizeForPaletteChange(HWND window);

// Exit: deletes the display palette when there is one and forgets it.
void DeleteDisplayPalette();
