// Allocation failures during parsing, made on the host through the stand-in
// for the system's global memory.
#include "gif/gif_animation.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "gif/gif_bytes.h"
#include "host_win32.h"

namespace {

// Three 3 x 2 frames; parsing them takes 7 blocks: the frame array, then a
// record and a pixel block per frame.
Bytes ThreeFrames()
{
    GifWriter writer;
    writer.Screen(3, 2, 1);
    for (int i = 0; i < 3; ++i) {
        writer.GraphicControl(i + 1);
        writer.Image(i, 0, 3, 2, PatternPixels(3, 2, 4, i), false, 2);
    }
    writer.Trailer();
    return writer.bytes;
}

// Parses with allocation `allowed` + 1 and every later one failing.
class AllocationFailure : public ::testing::Test {
protected:
    void TearDown() override
    {
        HostFailAllocationsAfter(-1);
        gif.Release();
        EXPECT_EQ(HostLiveBlocks(), liveBefore) << "every block is freed after Release";
    }

    void Parse(const Bytes& bytes, long allowed)
    {
        gif.Release();
        gif = GifAnimation();
        input.reset(new LoadedBuffer(bytes));
        liveBefore = HostLiveBlocks();
        HostFailAllocationsAfter(allowed);
        gif.Parse(input->buffer);
        HostFailAllocationsAfter(-1);
    }

    GifAnimation gif = {};
    std::unique_ptr<LoadedBuffer> input;
    long liveBefore = 0;
};

}  // namespace

TEST_F(AllocationFailure, NoFrameArrayMeansNoFrames)
{
    Parse(ThreeFrames(), 0);
    EXPECT_EQ(gif.frames, nullptr);
    EXPECT_EQ(gif.frameCount, 0);
}

TEST_F(AllocationFailure, FrameRecordEndsParsingKeepingEarlierFrames)
{
    Parse(ThreeFrames(), 5);
    ASSERT_EQ(gif.frameCount, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(gif.frames[i]->left, i);
        EXPECT_EQ(gif.frames[i]->delay, static_cast<uint32_t>(i + 1));
        EXPECT_EQ(ImagePixels(gif.frames[i]->bitmap), PatternPixels(3, 2, 4, i)) << "frame " << i;
    }
}

TEST_F(AllocationFailure, PixelBlockLeavesFrameWithoutPixelsAndStreamConsumed)
{
    GifWriter writer;
    writer.Screen(3, 2, 1);
    writer.Image(0, 0, 3, 2, PatternPixels(3, 2, 4), false, 2);
    writer.Trailer();
    Parse(writer.bytes, 2);
    ASSERT_EQ(gif.frameCount, 1);
    EXPECT_EQ(gif.frames[0]->bitmap.pixels, nullptr);
    RECT rect = {};
    EXPECT_EQ(gif.frames[0]->Bounds(rect), nullptr);
    EXPECT_EQ(input->buffer.pos, input->buffer.size) << "image data read up to the trailer";
}

TEST_F(AllocationFailure, GrowingTheListEndsParsingKeepingTheFirstHundred)
{
    GifWriter writer;
    writer.Screen(200, 1, 1);
    for (int i = 0; i < 101; ++i)
        writer.Image(i, 0, 1, 1, Bytes({1}), false, 2);
    writer.Trailer();
    // Array, 100 records and pixel blocks, the 101st record and pixel block.
    Parse(writer.bytes, 1 + 2 * 101);
    ASSERT_EQ(gif.frameCount, 100);
    EXPECT_EQ(gif.frameCapacity, 100);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(gif.frames[i]->left, i) << "frame " << i;
}

TEST_F(AllocationFailure, EveryFailurePointLeavesAReleasableAnimation)
{
    const Bytes bytes = ThreeFrames();
    for (long allowed = 0; allowed <= 8; ++allowed) {
        Parse(bytes, allowed);
        // Frame i is kept once its record (allocation 2i + 2) was had.
        EXPECT_EQ(gif.frameCount, std::min(3L, allowed / 2)) << allowed << " allocations allowed";
        gif.Release();
        EXPECT_EQ(HostLiveBlocks(), liveBefore) << allowed << " allocations allowed";
    }
}
