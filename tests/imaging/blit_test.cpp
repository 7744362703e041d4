#include "imaging/blit.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

const uint8_t sentinel = 0xEE;

// A bitmap with its own pixel block, released with the test. Never copied:
// the record's info field points into itself.
struct TestBitmap {
    IndexedBitmap bitmap;

    TestBitmap(int32_t width, int32_t height)
    {
        AllocatePixels(bitmap, width, height);
        if (bitmap.pixels)
            std::memset(bitmap.pixels, sentinel, static_cast<size_t>(bitmap.stride) * height);
    }
    ~TestBitmap() { ReleasePixels(bitmap); }
    TestBitmap(const TestBitmap&) = delete;
    TestBitmap& operator=(const TestBitmap&) = delete;
};

// Image row y of a bottom-up bitmap lies in memory line height - 1 - y; the
// address is worked out here on its own rather than through the code tested.
uint8_t& PixelAt(IndexedBitmap& bitmap, int32_t x, int32_t y)
{
    return bitmap.pixels[static_cast<size_t>(bitmap.height - 1 - y) * bitmap.stride + x];
}

// Source pixels that tell their position and never equal the sentinel.
uint8_t SourceValue(int32_t x, int32_t y) { return static_cast<uint8_t>((x * 3 + y * 17) % 200 + 1); }

// The source's padding bytes get a value of their own, so that a copy that
// reads past a line's width shows in the destination.
void FillSource(IndexedBitmap& source)
{
    std::memset(source.pixels, 0x5A, static_cast<size_t>(source.stride) * source.height);
    for (int32_t y = 0; y < source.height; ++y)
        for (int32_t x = 0; x < source.width; ++x)
            PixelAt(source, x, y) = SourceValue(x, y);
}

std::string RectText(const RECT& rect)
{
    return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ", " +
           std::to_string(rect.right) + ", " + std::to_string(rect.bottom) + ")";
}

testing::AssertionResult RectIs(const RECT& actual, LONG left, LONG top, LONG right, LONG bottom)
{
    if (actual.left == left && actual.top == top && actual.right == right && actual.bottom == bottom)
        return testing::AssertionSuccess();
    const RECT expected = {left, top, right, bottom};
    return testing::AssertionFailure()
           << "rectangle " << RectText(actual) << ", expected " << RectText(expected);
}

// Every byte of the destination's block, the padding of each line included:
// inside `covered`, image pixel (x, y) must hold source pixel
// (x - covered.left + originX, y - covered.top + originY); everywhere else
// the sentinel.
testing::AssertionResult HoldsCopy(IndexedBitmap& destination, const RECT& covered,
                                   int32_t originX, int32_t originY)
{
    int mismatches = 0;
    std::string report;
    for (int32_t line = 0; line < destination.height; ++line) {
        const int32_t y = destination.height - 1 - line;
        for (int32_t x = 0; x < destination.stride; ++x) {
            const bool inside = x < destination.width && x >= covered.left && x < covered.right &&
                                y >= covered.top && y < covered.bottom;
            const uint8_t expected =
                inside ? SourceValue(x - covered.left + originX, y - covered.top + originY)
                       : sentinel;
            const uint8_t actual = destination.pixels[static_cast<size_t>(line) * destination.stride + x];
            if (actual != expected && ++mismatches <= 8)
                report += "\n  column " + std::to_string(x) + " row " + std::to_string(y) +
                          ": " + std::to_string(actual) + ", expected " + std::to_string(expected);
        }
    }
    if (mismatches == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << mismatches << " bytes differ" << report;
}

testing::AssertionResult Untouched(IndexedBitmap& destination)
{
    const RECT nothing = {0, 0, 0, 0};
    return HoldsCopy(destination, nothing, 0, 0);
}

}  // namespace

TEST(Blit, RectangleInsideCanvasIsCopiedUnchanged)
{
    TestBitmap canvas(100, 80);
    TestBitmap frame(50, 30);
    FillSource(frame.bitmap);
    RECT rect = {10, 20, 60, 50};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 10, 20, 60, 50));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 0));
}

TEST(Blit, FrameBeyondRightAndBottomIsCutThere)
{
    TestBitmap canvas(100, 80);
    TestBitmap frame(30, 25);
    FillSource(frame.bitmap);
    RECT rect = {90, 70, 120, 95};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 90, 70, 100, 80));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 0));
}

TEST(Blit, FrameWhollyRightOfCanvasCopiesNothing)
{
    TestBitmap canvas(100, 80);
    TestBitmap frame(20, 10);
    FillSource(frame.bitmap);
    RECT rect = {150, 0, 170, 10};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 150, 0, 100, 10));
    EXPECT_TRUE(Untouched(canvas.bitmap));
}

TEST(Blit, FrameWhollyBelowCanvasCopiesNothing)
{
    TestBitmap canvas(100, 80);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {0, 90, 10, 100};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 0, 90, 10, 80));
    EXPECT_TRUE(Untouched(canvas.bitmap));
}

TEST(Blit, EmptyFrameCopiesNothing)
{
    TestBitmap canvas(100, 80);
    TestBitmap frame(0, 10);
    RECT rect = {5, 5, 5, 15};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 5, 5, 5, 15));
    EXPECT_TRUE(Untouched(canvas.bitmap));
}

TEST(Blit, NegativeCornerMovesSourceOrigin)
{
    TestBitmap canvas(20, 20);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {-3, -2, 7, 8};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 0, 0, 7, 8));
    EXPECT_EQ(SourceValue(3, 2), PixelAt(canvas.bitmap, 0, 0));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 3, 2));
}

TEST(Blit, NegativeOriginMovesRectangleEdge)
{
    TestBitmap canvas(20, 20);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {0, 0, 10, 10};

    Blit(canvas.bitmap, frame.bitmap, rect, -4, 0, -1);

    EXPECT_TRUE(RectIs(rect, 4, 0, 10, 10));
    EXPECT_EQ(SourceValue(0, 0), PixelAt(canvas.bitmap, 4, 0));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 0));
}

TEST(Blit, NegativeOriginRowsMoveRectangleTop)
{
    TestBitmap canvas(20, 20);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {0, 0, 10, 10};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, -3, -1);

    EXPECT_TRUE(RectIs(rect, 0, 3, 10, 10));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 0));
}

TEST(Blit, OriginInsideSourceCutsRightEdge)
{
    TestBitmap canvas(20, 20);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {0, 0, 10, 10};

    Blit(canvas.bitmap, frame.bitmap, rect, 6, 0, -1);

    EXPECT_TRUE(RectIs(rect, 0, 0, 4, 10));
    EXPECT_EQ(SourceValue(6, 0), PixelAt(canvas.bitmap, 0, 0));
    EXPECT_EQ(SourceValue(9, 5), PixelAt(canvas.bitmap, 3, 5));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 6, 0));
}

TEST(Blit, OriginInsideSourceCutsBottomEdge)
{
    TestBitmap canvas(20, 20);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {2, 2, 12, 12};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 7, -1);

    EXPECT_TRUE(RectIs(rect, 2, 2, 12, 5));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 7));
}

// Each clamp sees what the earlier ones left: the left cut first moves the
// origin from -5 to -2, and only then does the origin move the edge.
TEST(Blit, ClampsRunInOrder)
{
    TestBitmap canvas(20, 20);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {-3, 0, 10, 10};

    Blit(canvas.bitmap, frame.bitmap, rect, -5, 0, -1);

    EXPECT_TRUE(RectIs(rect, 2, 0, 10, 10));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 0));
}

TEST(Blit, PaddingBytesOfLinesAreNeverWritten)
{
    TestBitmap canvas(7, 6);  // stride 8: one padding byte per line
    TestBitmap frame(5, 6);   // stride 8 too, with its padding readable but never copied
    FillSource(frame.bitmap);
    RECT rect = {2, 0, 8, 6};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 2, 0, 7, 6));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 0));
}

TEST(Blit, OpaqueCopyReplacesWithEveryValue)
{
    TestBitmap canvas(16, 16);
    TestBitmap frame(16, 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x)
            PixelAt(frame.bitmap, x, y) = static_cast<uint8_t>(y * 16 + x);
    RECT rect = {0, 0, 16, 16};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    EXPECT_EQ(0, std::memcmp(canvas.bitmap.pixels, frame.bitmap.pixels, 16 * 16))
        << "values 0 to 255, the sentinel's included, must all be copied";
}

TEST(Blit, TransparentIndexLeavesDestinationPixels)
{
    TestBitmap canvas(8, 4);
    TestBitmap frame(8, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x)
            PixelAt(frame.bitmap, x, y) = (x + y) % 3 == 0 ? 0x10 : static_cast<uint8_t>(x + 1);
    RECT rect = {0, 0, 8, 4};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, 0x10);

    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            const uint8_t expected = (x + y) % 3 == 0 ? sentinel : static_cast<uint8_t>(x + 1);
            EXPECT_EQ(expected, PixelAt(canvas.bitmap, x, y)) << "column " << x << " row " << y;
        }
    }
}

TEST(Blit, IndexBeyond255CopiesOpaquely)
{
    TestBitmap canvas(4, 4);
    TestBitmap frame(4, 4);
    FillSource(frame.bitmap);
    RECT rect = {0, 0, 4, 4};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, 256 + SourceValue(0, 0));

    EXPECT_TRUE(HoldsCopy(canvas.bitmap, rect, 0, 0));
}

TEST(Blit, SourceWithoutPixelsIsClampedButNotRead)
{
    TestBitmap canvas(10, 10);
    IndexedBitmap frame;
    InitHeader(frame, 20, 20);
    RECT rect = {5, 5, 25, 25};

    Blit(canvas.bitmap, frame, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 5, 5, 10, 10));
    EXPECT_TRUE(Untouched(canvas.bitmap));
}

TEST(Blit, DestinationWithoutPixelsIsClampedButNotWritten)
{
    IndexedBitmap destination;
    InitHeader(destination, 10, 10);
    TestBitmap frame(20, 20);
    RECT rect = {-5, 0, 15, 20};

    Blit(destination, frame.bitmap, rect, 0, 0, -1);

    EXPECT_TRUE(RectIs(rect, 0, 0, 10, 10));
    EXPECT_EQ(nullptr, destination.pixels);
}

// Values near the ends of the 32-bit range must neither wrap into a
// rectangle that reaches outside either bitmap nor copy anything.
TEST(Blit, ExtremeCoordinatesCopyNothing)
{
    struct Case {
        RECT rect;
        int32_t originX;
        int32_t originY;
    };
    const Case cases[] = {
        {{-10, 0, 10, 10}, INT32_MAX - 5, 0},
        {{INT32_MAX - 2, 0, INT32_MAX, 10}, INT32_MIN, 0},
        {{0, INT32_MAX - 2, 10, INT32_MAX}, 0, INT32_MIN},
        {{INT32_MIN, INT32_MIN, INT32_MIN + 5, INT32_MIN + 5}, INT32_MAX, INT32_MAX},
        {{0, 0, INT32_MIN, 10}, INT32_MAX, 0},
        {{5, 5, 10, 10}, INT32_MIN, INT32_MIN},
    };
    for (const Case& test : cases) {
        TestBitmap canvas(12, 12);
        TestBitmap frame(10, 10);
        FillSource(frame.bitmap);
        RECT rect = test.rect;

        Blit(canvas.bitmap, frame.bitmap, rect, test.originX, test.originY, -1);

        EXPECT_TRUE(rect.right <= rect.left || rect.bottom <= rect.top)
            << "from " << RectText(test.rect) << " came " << RectText(rect);
        EXPECT_TRUE(Untouched(canvas.bitmap)) << "from " << RectText(test.rect);
    }
}

TEST(Blit, HugeRectangleIsClippedToBothBitmaps)
{
    TestBitmap canvas(12, 9);
    TestBitmap frame(10, 10);
    FillSource(frame.bitmap);
    RECT rect = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};

    Blit(canvas.bitmap, frame.bitmap, rect, 0, 0, -1);

    // The cut-off part lies left of and above the canvas, so the origin moves
    // far beyond the source and nothing remains.
    EXPECT_TRUE(rect.right <= rect.left || rect.bottom <= rect.top) << RectText(rect);
    EXPECT_TRUE(Untouched(canvas.bitmap));

    RECT fromCorner = {0, 0, INT32_MAX, INT32_MAX};
    Blit(canvas.bitmap, frame.bitmap, fromCorner, 0, 0, -1);
    EXPECT_TRUE(RectIs(fromCorner, 0, 0, 10, 9));
    EXPECT_TRUE(HoldsCopy(canvas.bitmap, fromCorner, 0, 0));
}
