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

    void Attach(int width, int height, bool interlace)
    {
        AllocatePixels(bitmap, width, height);
        ASSERT_NE(bitmap.pixels, nullptr);
        std::memset(bitmap.pixels, sentinel, static_cast<size_t>(bitmap.stride) * height);
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

}  // namespace

TEST(NextRow, InterlacedOrdersMatchTheFourPasses)
{
    for (int height : {1, 2, 3, 4, 5, 8, 9, 16}) {
        EXPECT_EQ(Text(VisitingOrder(height, true)), Text(InterlacedStreamOrder(height)))
            << "height " << height;
    }
}

TEST(NextRow, EveryInterlacedHeightVisitsEachRowOnce)
{
    for (int height = 1; height <= 200; ++height) {
        std::vector<int> order = VisitingOrder(height, true);
        ASSERT_EQ(Text(order), Text(InterlacedStreamOrder(height))) << "height " << height;
        interlaced = 0x40;
        EXPECT_GE(NextRow(order.back(), height), height) << "height " << height;
    }
}

TEST(NextRow, InterlacedOrdersAsListed)
{
    EXPECT_EQ(Text(VisitingOrder(5, true)), "0 4 2 1 3 ");
    EXPECT_EQ(Text(VisitingOrder(9, true)), "0 8 4 2 6 1 3 5 7 ");
}

TEST(NextRow, PlainOrderCountsUp)
{
    EXPECT_EQ(Text(VisitingOrder(4, false)), "0 1 2 3 ");
}

TEST_F(RowPlacementTest, TopImageRowGoesToTheLastMemoryLine)
{
    Attach(3, 3, false);
    const uint8_t lines[3][3] = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
    for (const auto& line : lines)
        EXPECT_EQ(PlaceLine(line, 3), 0);
    EXPECT_EQ(MemoryLine(2), Bytes({1, 1, 1, sentinel}));
    EXPECT_EQ(MemoryLine(1), Bytes({2, 2, 2, sentinel}));
    EXPECT_EQ(MemoryLine(0), Bytes({3, 3, 3, sentinel})) << "padding byte must stay untouched";
}

TEST_F(RowPlacementTest, InterlacedLinesLandOnTheirRows)
{
    Attach(1, 5, true);
    for (uint8_t value : {10, 14, 12, 11, 13})  // stream order 0 4 2 1 3
        PlaceLine(&value, 1);
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(PixelPointer(bitmap, 0, 4 - r)[0], 10 + r) << "image row " << r;
}

TEST_F(RowPlacementTest, PartialLineFillsItsStartAndAdvances)
{
    Attach(10, 2, false);
    const uint8_t line[3] = {7, 8, 9};
    PlaceLine(line, 3);
    Bytes expected(12, sentinel);
    expected[0] = 7;
    expected[1] = 8;
    expected[2] = 9;
    EXPECT_EQ(MemoryLine(1), expected);
    EXPECT_EQ(row, 1);
}

TEST_F(RowPlacementTest, LongLineIsCutToTheWidth)
{
    Attach(3, 1, false);
    const uint8_t line[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    PlaceLine(line, 8);
    EXPECT_EQ(MemoryLine(0), Bytes({1, 2, 3, sentinel}));
}

TEST_F(RowPlacementTest, LastRowDetachesSourceAndLaterLinesAreDropped)
{
    Attach(2, 2, false);
    const uint8_t line[2] = {5, 6};
    PlaceLine(line, 2);
    EXPECT_NE(source, nullptr) << "a row is still missing";
    PlaceLine(line, 2);
    EXPECT_EQ(source, nullptr);
    const uint8_t late[2] = {9, 9};
    EXPECT_EQ(PlaceLine(late, 2), 0);
    EXPECT_EQ(MemoryLine(0), Bytes({5, 6, sentinel, sentinel}));
    EXPECT_EQ(MemoryLine(1), Bytes({5, 6, sentinel, sentinel}));
}

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

TEST_F(RowPlacementTest, BitmapWithoutPixelsCountsRowsButReceivesNothing)
{
    InitHeader(bitmap, 2, 2);  // no block: pixels null
    target = &bitmap;
    row = 0;
    interlaced = 0;
    source = &attachedBuffer->buffer;
    const uint8_t line[2] = {1, 2};
    PlaceLine(line, 2);
    PlaceLine(line, 2);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(source, nullptr);
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
