#include "gif/row_placement.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gif/gif_bytes.h"
#include "gif/lzw_decoder.h"

namespace {

const uint8_t sentinel = 0xEE;

// Rows in the order NextRow visits them, starting at 0, until it reaches
// the height; stops early rather than loop for ever on a broken order.
std::vector<int> VisitingOrder(int height, bool interlace)
{
    interlaced = interlace ? 0x40 : 0;
    std::vector<int> order;
    for (int r = 0; r < height && static_cast<int>(order.size()) <= height; r = NextRow(r, height))
        order.push_back(r);
    return order;
}

std::string Text(const std::vector<int>& rows)
{
    std::string text;
    for (int r : rows)
        text += std::to_string(r) + " ";
    return text;
}

class RowPlacementTest : public ::testing::Test {
protected:
    void SetUp() override { attachedBuffer.reset(new LoadedBuffer(Bytes({0}))); }

    void TearDown() override
    {
        ReleasePixels(bitmap);
        target = nullptr;
        source = nullptr;
    }

    void Attach(int width, int height, bool interlace, bool withPixels = true)
    {
        if (withPixels) {
            AllocatePixels(bitmap, width, height);
            ASSERT_NE(bitmap.pixels, nullptr);
            std::memset(bitmap.pixels, sentinel, static_cast<size_t>(bitmap.stride) * height);
        } else {
            InitHeader(bitmap, width, height);
        }
        target = &bitmap;
        row = 0;
        interlaced = interlace ? 0x40 : 0;
        source = &attachedBuffer->buffer;
    }

    Bytes MemoryLine(int line) const
    {
        const uint8_t* start = PixelPointer(bitmap, 0, line);
        return Bytes(start, start + bitmap.stride);
    }

    IndexedBitmap bitmap = {};
    std::unique_ptr<LoadedBuffer> attachedBuffer;
};

// Lines placed into a fresh bitmap, and what it holds then: each image row's
// bytes from the left, top row first, the rest of its memory line (padding
// included) left as the sentinel.
struct Placement {
    const char* name;
    int width, height;
    bool interlace;
    std::vector<Bytes> lines;
    std::vector<Bytes> imageRows;
    int rowAfter;
    bool sourceAttachedAfter;
    bool withPixels = true;  // false: a header without a block
};

void PrintTo(const Placement& placement, std::ostream* out) { *out << placement.name; }

const Placement placements[] = {
    {"TopImageRowGoesToTheLastMemoryLine", 3, 3, false,
     {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, 3, false},
    // Stream order 0 4 2 1 3.
    {"InterlacedLinesLandOnTheirRows", 1, 5, true,
     {{10}, {14}, {12}, {11}, {13}}, {{10}, {11}, {12}, {13}, {14}}, 5, false},
    {"PartialLineFillsItsStartAndAdvances", 10, 2, false, {{7, 8, 9}}, {{7, 8, 9}, {}}, 1, true},
    {"LongLineIsCutToTheWidth", 3, 1, false, {{1, 2, 3, 4, 5, 6, 7, 8}}, {{1, 2, 3}}, 1, false},
    {"LastRowDetachesSourceAndLaterLinesAreDropped", 2, 2, false,
     {{5, 6}, {5, 6}, {9, 9}}, {{5, 6}, {5, 6}}, 2, false},
    {"BitmapWithoutPixelsCountsRowsButReceivesNothing", 2, 2, false,
     {{1, 2}, {1, 2}}, {}, 2, false, false},
};

class LinePlacement : public RowPlacementTest,
                      public testing::WithParamInterface<Placement> {};

}  // namespace

TEST(NextRow, EveryInterlacedHeightVisitsEachRowOnceInPassOrder)
{
    for (int height = 1; height <= 200; ++height) {
        std::vector<int> order = VisitingOrder(height, true);
        ASSERT_EQ(Text(order), Text(InterlacedStreamOrder(height))) << "height " << height;
        interlaced = 0x40;
        EXPECT_GE(NextRow(order.back(), height), height) << "height " << height;
    }
}

TEST(NextRow, OrdersAsListed)
{
    EXPECT_EQ(Text(VisitingOrder(5, true)), "0 4 2 1 3 ");
    EXPECT_EQ(Text(VisitingOrder(9, true)), "0 8 4 2 6 1 3 5 7 ");
    EXPECT_EQ(Text(VisitingOrder(4, false)), "0 1 2 3 ");
}

TEST_P(LinePlacement, FillsRowsAndAdvances)
{
    const Placement& test = GetParam();
    Attach(test.width, test.height, test.interlace, test.withPixels);
    for (const Bytes& line : test.lines)
        EXPECT_EQ(PlaceLine(line.data(), static_cast<int32_t>(line.size())), 0);
    for (int r = 0; bitmap.pixels && r < test.height; ++r) {
        Bytes expected = test.imageRows.at(r);
        expected.resize(bitmap.stride, sentinel);
        EXPECT_EQ(MemoryLine(test.height - 1 - r), expected) << "image row " << r;
    }
    EXPECT_EQ(row, test.rowAfter);
    EXPECT_EQ(source != nullptr, test.sourceAttachedAfter) << "source still attached";
}

INSTANTIATE_TEST_SUITE_P(RowPlacement, LinePlacement, testing::ValuesIn(placements),
                         [](const testing::TestParamInfo<Placement>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(RowPlacementTest, HeightZeroPlacesNothing)
{
    Attach(4, 0, false);
    const uint8_t line[4] = {1, 2, 3, 4};
    EXPECT_EQ(PlaceLine(line, 4), 0);
    EXPECT_EQ(row, 0);
}

TEST_F(RowPlacementTest, WithoutTargetLinesAreDropped)
{
    target = nullptr;
    row = 0;
    const uint8_t line[2] = {1, 2};
    EXPECT_EQ(PlaceLine(line, 2), 0);
    EXPECT_EQ(row, 0);
}

TEST(CopyBytes, CopiesExactlyCountBytes)
{
    uint8_t to[6] = {0, 0, 0, 0, 0, 0};
    const uint8_t from[6] = {1, 2, 3, 4, 5, 6};
    CopyBytes(to, from, 4);
    EXPECT_EQ(Bytes(to, to + 6), Bytes({1, 2, 3, 4, 0, 0}));
    CopyBytes(to, from + 4, 0);
    EXPECT_EQ(Bytes(to, to + 6), Bytes({1, 2, 3, 4, 0, 0}));
}
