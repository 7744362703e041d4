#include "imaging/indexed_bitmap.h"

#include <cstddef>

#include "platform/fixed_block.h"

// The header and the colour table behind it are handed to the system as one
// BITMAPINFO, so the table must follow the header with no gap.
static_assert(offsetof(IndexedBitmap, colourTable) ==
                  offsetof(IndexedBitmap, header) + sizeof(BITMAPINFOHEADER),
              "the colour table must follow the bitmap header directly");

IndexedBitmap canvas;

namespace {

uint64_t BlockBytes(const IndexedBitmap& bitmap)
{
    // 65535 x 65535 exceeds 32 bits; the product is kept whole.
    return static_cast<uint64_t>(bitmap.stride) * static_cast<uint64_t>(bitmap.height);
}

}  // namespace

void InitHeader(IndexedBitmap& bitmap, int32_t width, int32_t height)
{
    bitmap.width = width;
    bitmap.height = height;
    bitmap.stride = (width + 3) & ~3;

    BITMAPINFOHEADER& header = bitmap.header;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 8;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(BlockBytes(bitmap));
    header.biXPelsPerMeter = 0;
    header.biYPelsPerMeter = 0;
    header.biClrUsed = 256;
    header.biClrImportant = 0;

    for (int i = 0; i < 256; ++i)
        bitmap.colourTable[i] = static_cast<uint16_t>(i);

    bitmap.info = reinterpret_cast<BITMAPINFO*>(&bitmap.header);
    bitmap.ownsPixels = 0;
    bitmap.pixels = nullptr;
}

void AllocatePixels(IndexedBitmap& bitmap, int32_t width, int32_t height)
{
    InitHeader(bitmap, width, height);
    bitmap.ownsPixels = 1;
    bitmap.pixels = static_cast<uint8_t*>(AllocateFixedBlock(BlockBytes(bitmap)));
}

void ReleasePixels(IndexedBitmap& bitmap)
{
    if (bitmap.ownsPixels && bitmap.pixels)
        FreeFixedBlock(bitmap.pixels);
}

uint8_t* PixelPointer(const IndexedBitmap& bitmap, int32_t x, int32_t line)
{
    // Unsigned: no block is larger than 2^31 - 1 bytes, so the offset fits,
    // and the block itself may lie anywhere in the 4 GiB address space.
    return bitmap.pixels + static_cast<size_t>(line) * static_cast<size_t>(bitmap.stride) + static_cast<size_t>(x);
}

int Draw(const IndexedBitmap& bitmap, HDC dc, int32_t x, int32_t y)
{
    if (!bitmap.pixels)
        return 0;
    return StretchDIBits(dc, x, y, bitmap.width, bitmap.height, 0, 0, bitmap.width, bitmap.height,
                         bitmap.pixels, bitmap.info, DIB_PAL_COLORS, SRCCOPY);
}
