#include "imaging/indexed_bitmap.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32.h"

namespace {

// Releases the bitmap's block when the test ends, however it ends.
struct OwnedBitmap {
    IndexedBitmap bitmap = {};
    ~OwnedBitmap() { ReleasePixels(bitmap); }
};

}  // namespace

TEST(IndexedBitmap, HeaderDescribesAnEightBitBottomUpBitmap)
{
    OwnedBitmap owned;
    IndexedBitmap& bitmap = owned.bitmap;
    AllocatePixels(bitmap, 5, 3);
    EXPECT_EQ(bitmap.width, 5);
    EXPECT_EQ(bitmap.height, 3);
    EXPECT_EQ(bitmap.stride, 8);
    EXPECT_EQ(bitmap.ownsPixels, 1);
    ASSERT_NE(bitmap.pixels, nullptr);
    const BITMAPINFOHEADER& header = bitmap.header;
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 5);
    EXPECT_EQ(header.biHeight, 3) << "positive: bottom-up";
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biSizeImage, 24u);
    EXPECT_EQ(header.biXPelsPerMeter, 0);
    EXPECT_EQ(header.biYPelsPerMeter, 0);
    EXPECT_EQ(header.biClrUsed, 256u);
    EXPECT_EQ(header.biClrImportant, 0u);
    // The whole block can be written without leaving it.
    std::memset(bitmap.pixels, 0x5A, 24);
#ifdef _WIN32
    EXPECT_GE(GlobalSize(GlobalHandle(bitmap.pixels)), 24u);
#endif
}

TEST(IndexedBitmap, StrideIsWidthRoundedUpToFour)
{
    const int widths[] = {0, 1, 3, 4, 5, 8, 65535};
    const int strides[] = {0, 4, 4, 4, 8, 8, 65536};
    for (int i = 0; i < 7; ++i) {
        IndexedBitmap bitmap;
        InitHeader(bitmap, widths[i], 2);
        EXPECT_EQ(bitmap.stride, strides[i]) << "width " << widths[i];
        EXPECT_EQ(bitmap.header.biSizeImage, static_cast<DWORD>(strides[i] * 2)) << "width " << widths[i];
    }
}

TEST(IndexedBitmap, InfoIsHeaderFollowedByIdentityTable)
{
    IndexedBitmap bitmap;
    InitHeader(bitmap, 2, 2);
    EXPECT_EQ(static_cast<void*>(bitmap.info), static_cast<void*>(&bitmap.header));
    const WORD* table = reinterpret_cast<const WORD*>(bitmap.info->bmiColors);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(table[i], i) << "colour table entry " << i;
}

TEST(IndexedBitmap, InitHeaderAloneOwnsNothing)
{
    IndexedBitmap bitmap;
    std::memset(&bitmap, 0xCD, sizeof bitmap);
    InitHeader(bitmap, 7, 7);
    EXPECT_EQ(bitmap.ownsPixels, 0);
    EXPECT_EQ(bitmap.pixels, nullptr);
    ReleasePixels(bitmap);  // frees nothing
    EXPECT_EQ(Draw(bitmap, nullptr, 0, 0), 0) << "no pixels, nothing drawn";
}

TEST(IndexedBitmap, PixelPointerCountsMemoryLinesFromTheBottom)
{
    OwnedBitmap owned;
    AllocatePixels(owned.bitmap, 10, 10);
    ASSERT_NE(owned.bitmap.pixels, nullptr);
    EXPECT_EQ(PixelPointer(owned.bitmap, 3, 9), owned.bitmap.pixels + 9 * 12 + 3);
    EXPECT_EQ(PixelPointer(owned.bitmap, 0, 0), owned.bitmap.pixels);
}

TEST(IndexedBitmap, BlockTooLargeForThirtyTwoBitsLeavesPixelsNull)
{
    IndexedBitmap bitmap;
    AllocatePixels(bitmap, 65535, 65535);
    EXPECT_EQ(bitmap.pixels, nullptr);
    EXPECT_EQ(bitmap.ownsPixels, 1);
    EXPECT_EQ(bitmap.header.biSizeImage, 65536u * 65535u) << "the size does not wrap";
    ReleasePixels(bitmap);
    EXPECT_EQ(Draw(bitmap, nullptr, 0, 0), 0);
}

TEST(IndexedBitmap, CanvasStartsWithoutPixels)
{
    EXPECT_EQ(canvas.pixels, nullptr);
    EXPECT_EQ(Draw(canvas, nullptr, 0, 0), 0);
}

#ifdef _WIN32
// Draws onto a 32-bit DIB section and reads back where the pixels landed.
// With DIB_PAL_COLORS each value is an entry of the device context's
// palette: here the default one, whose entry 0 is black.
TEST(IndexedBitmap, DrawPutsTopLeftPixelAtTheGivenPoint)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 8;
    info.bmiHeader.biHeight = -8;  // top-down, to read rows directly
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HBITMAP section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    HGDIOBJ old = SelectObject(dc, section);
    uint32_t* screen = static_cast<uint32_t*>(bits);
    for (int i = 0; i < 64; ++i)
        screen[i] = 0x00FFFFFF;

    // A 4 x 4 bitmap, all black but image pixel (1, 2), which is white
    // (entry 19 of the default palette).
    OwnedBitmap owned;
    AllocatePixels(owned.bitmap, 4, 4);
    ASSERT_NE(owned.bitmap.pixels, nullptr);
    std::memset(owned.bitmap.pixels, 0, 16);
    *PixelPointer(owned.bitmap, 1, 4 - 1 - 2) = 19;

    // At (-1, -2) columns 1..3 of image rows 2..3 land on 0..2 x 0..1, so
    // the white pixel is the device's (0, 0).
    int lines = Draw(owned.bitmap, dc, -1, -2);
    GdiFlush();
    EXPECT_GT(lines, 0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            bool black = x < 3 && y < 2 && !(x == 0 && y == 0);
            EXPECT_EQ(screen[y * 8 + x] & 0xFFFFFF, black ? 0u : 0xFFFFFFu)
                << "pixel (" << x << ", " << y << ")";
        }
    }
    SelectObject(dc, old);
    DeleteObject(section);
    DeleteDC(dc);
}
#endif
