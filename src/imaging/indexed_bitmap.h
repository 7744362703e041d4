// IndexedBitmap: an 8-bit bottom-up device-independent bitmap whose colour
// table is the identity list of palette indices, used for every frame and for
// the canvas. Image row y lies in memory line height - 1 - y; lines are padded
// to a multiple of 4 bytes.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct IndexedBitmap {
    int32_t width;
    int32_t height;
    int32_t stride;                // bytes per memory line: width rounded up to 4
    BITMAPINFOHEADER header;
    uint16_t colourTable[256];     // entry i holds i; drawn with DIB_PAL_COLORS
    BITMAPINFO* info;              // points at header: header and table form the BITMAPINFO
    int32_t ownsPixels;            // 1 when AllocatePixels made the block
    uint8_t* pixels;               // stride * height bytes, or null
};

// The one bitmap of the logical screen's size that frames are copied onto.
extern IndexedBitmap canvas;

// Sets sizes, stride, header, identity colour table and info; ownsPixels 0,
// pixels null. Allocates nothing.
void InitHeader(IndexedBitmap& bitmap, int32_t width, int32_t height);

// InitHeader, ownsPixels 1, then one fixed block of stride * height bytes, not
// cleared. pixels stays null when the block cannot be had.
void AllocatePixels(IndexedBitmap& bitmap, int32_t width, int32_t height);

// Frees the block when the bitmap owns one; changes no field.
void ReleasePixels(IndexedBitmap& bitmap);

// Byte x of memory line `line`. No bounds are checked: callers pass
// 0 <= x < width and 0 <= line < height.
uint8_t* PixelPointer(const IndexedBitmap& bitmap, int32_t x, int32_t line);

// Draws the whole bitmap unscaled with its top-left corner at (x, y) through
// the palette selected into `dc`. Returns the scan lines drawn; a bitmap
// without pixels draws nothing and returns 0.
int Draw(const IndexedBitmap& bitmap, HDC dc, int32_t x, int32_t y);
