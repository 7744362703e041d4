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

    TestBitmap(int32_t width, int32_t height, bool withPixels = true)
    {
        if (!withPixels) {
            InitHeader(bitmap, width, height);
            return;
        }
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

testing::AssertionResult RectIs(const RECT& actual, const RECT& expected)
{
    if (actual.left == expected.left && actual.top == expected.top &&
        actual.right == expected.right && actual.bottom == expected.bottom)
        return testing::AssertionSuccess();
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

enum class Missing { nothing, sourcePixels, destinationPixels };

// One frame put onto the canvas: the sizes, the rectangle and source origin
// given, the rectangle expected back and the source pixel expected at its
// top-left corner (of no meaning when it covers nothing).
struct Placement {
    const char* name;
    int32_t canvasWidth, canvasHeight, frameWidth, frameHeight;
    RECT rect;
    int32_t originX, originY;
    RECT clipped;
    int32_t copiedFromX, copiedFromY;
    Missing missing = Missing::nothing;
    int32_t transparentIndex = -1;
};

void PrintTo(const Placement& placement, std::ostream* out) { *out << placement.name; }

const Placement placements[] = {
    {"RectangleInsideCanvasIsCopiedUnchanged",
     100, 80, 50, 30, {10, 20, 60, 50}, 0, 0, {10, 20, 60, 50}, 0, 0},
    {"FrameBeyondRightAndBottomIsCutThere",
     100, 80, 30, 25, {90, 70, 120, 95}, 0, 0, {90, 70, 100, 80}, 0, 0},
    {"FrameWhollyRightOfCanvasCopiesNothing",
     100, 80, 20, 10, {150, 0, 170, 10}, 0, 0, {150, 0, 100, 10}, 0, 0},
    {"FrameWhollyBelowCanvasCopiesNothing",
     100, 80, 10, 10, {0, 90, 10, 100}, 0, 0, {0, 90, 10, 80}, 0, 0},
    {"EmptyFrameCopiesNothing",
     100, 80, 0, 10, {5, 5, 5, 15}, 0, 0, {5, 5, 5, 15}, 0, 0},
    {"NegativeCornerMovesSourceOrigin",
     20, 20, 10, 10, {-3, -2, 7, 8}, 0, 0, {0, 0, 7, 8}, 3, 2},
    {"NegativeOriginMovesRectangleEdge",
     20, 20, 10, 10, {0, 0, 10, 10}, -4, 0, {4, 0, 10, 10}, 0, 0},
    {"NegativeOriginRowsMoveRectangleTop",
     20, 20, 10, 10, {0, 0, 10, 10}, 0, -3, {0, 3, 10, 10}, 0, 0},
    {"OriginInsideSourceCutsRightEdge",
     20, 20, 10, 10, {0, 0, 10, 10}, 6, 0, {0, 0, 4, 10}, 6, 0},
    {"OriginInsideSourceCutsBottomEdge",
     20, 20, 10, 10, {2, 2, 12, 12}, 0, 7, {2, 2, 12, 5}, 0, 7},
    // Each clamp sees what the earlier ones left: the left cut first moves
    // the origin from -5 to -2, and only then does the origin move the edge.
    {"ClampsRunInOrder",
     20, 20, 10, 10, {-3, 0, 10, 10}, -5, 0, {2, 0, 10, 10}, 0, 0},
    // Both strides are 8: the canvas's padding byte must keep the sentinel
    // and the frame's, readable, must never be copied.
    {"PaddingBytesOfLinesAreNeverWritten",
     7, 6, 5, 6, {2, 0, 8, 6}, 0, 0, {2, 0, 7, 6}, 0, 0},
    {"HugeRectangleFromTheCornerIsClippedToBothBitmaps",
     12, 9, 10, 10, {0, 0, INT32_MAX, INT32_MAX}, 0, 0, {0, 0, 10, 9}, 0, 0},
    {"IndexBeyond255CopiesOpaquely",
     4, 4, 4, 4, {0, 0, 4, 4}, 0, 0, {0, 0, 4, 4}, 0, 0, Missing::nothing, 256 + SourceValue(0, 0)},
    {"SourceWithoutPixelsIsClampedButNotRead",
     10, 10, 20, 20, {5, 5, 25, 25}, 0, 0, {5, 5, 10, 10}, 0, 0, Missing::sourcePixels},
    {"DestinationWithoutPixelsIsClampedButNotWritten",
     10, 10, 20, 20, {-5, 0, 15, 20}, 0, 0, {0, 0, 10, 10}, 0, 0, Missing::destinationPixels},
};

}  // namespace

class BlitPlacement : public testing::TestWithParam<Placement> {};

TEST_P(BlitPlacement, ClipsAndCopies)
{
    const Placement& test = GetParam();
    const bool withCanvasPixels = test.missing != Missing::destinationPixels;
    TestBitmap canvas(test.canvasWidth, test.canvasHeight, withCanvasPixels);
    TestBitmap frame(test.frameWidth, test.frameHeight, test.missing != Missing::sourcePixels);
    if (frame.bitmap.pixels)
        FillSource(frame.bitmap);
    RECT rect = test.rect;

    Blit(canvas.bitmap, frame.bitmap, rect, test.originX, test.originY, test.transparentIndex);

    EXPECT_TRUE(RectIs(rect, test.clipped));
    if (test.missing == Missing::destinationPixels)
        EXPECT_EQ(nullptr, canvas.bitmap.pixels);
    else if (test.missing == Missing::sourcePixels)
        EXPECT_TRUE(Untouched(canvas.bitmap));
    else
        EXPECT_TRUE(HoldsCopy(canvas.bitmap, test.clipped, test.copiedFromX, test.copiedFromY));
}

INSTANTIATE_TEST_SUITE_P(Blit, BlitPlacement, testing::ValuesIn(placements),
                         [](const testing::TestParamInfo<Placement>& info) {
                             return std::string(info.param.name);
                         });

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
        // The part cut off left of and above the canvas moves the origin far
        // beyond the source.
        {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 0, 0},
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
