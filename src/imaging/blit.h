// Clipped copy of a rectangle of one IndexedBitmap into another: how frames
// are put onto the canvas.
#pragma once

#include <cstdint>

#include "imaging/indexed_bitmap.h"
#include "platform/win32.h"

// Copies the source pixels starting at (sourceX, sourceY) into `rect` of the
// destination (destination pixels, right and bottom exclusive), after
// clipping rect and origin against both bitmaps. `rect` is written back
// clipped: it holds exactly the area covered, or right <= left or
// bottom <= top when nothing was copied. A negative `transparentIndex` copies
// opaquely; 0..255 leaves destination pixels where the source equals it.
// When either bitmap has no pixels, rect is still clipped but nothing is
// read or written. Allocates nothing.
void Blit(IndexedBitmap& destination, const IndexedBitmap& source, RECT& rect,
          int32_t sourceX, int32_t sourceY, int32_t transparentIndex);
