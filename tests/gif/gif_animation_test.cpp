#include "gif/gif_animation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "gif/gif_bytes.h"

namespace {

// A parsed animation that releases itself.
struct Parsed {
    GifAnimation gif = {};
    std::unique_ptr<LoadedBuffer> input;

    explicit Parsed(const Bytes& bytes, size_t length = SIZE_MAX)
        : input(new LoadedBuffer(bytes, length))
    {
        gif.Parse(input->buffer);
    }
    ~Parsed() { gif.Release(); }

    GifFrame& Frame(int i) const { return *gif.frames[i]; }
};

// Screen 4 x 2 with a 4-colour global table, no frames yet.
const Bytes smallScreen = {
    'G', 'I', 'F', '8', '9', 'a',  // signature and version
    0x04, 0x00,                    // logical screen width 4
    0x02, 0x00,                    // logical screen height 2
    0x81,                          // global table, size bits 1: 4 colours
    0x00,                          // background colour index
    0x00,                          // pixel aspect ratio
    0x00, 0x00, 0x00,              // colour 0 black
    0xFF, 0xFF, 0xFF,              // colour 1 white
    0xFF, 0x00, 0x00,              // colour 2 red
    0x00, 0xFF, 0x00,              // colour 3 green
};

// A 2 x 1 image at (1, 1) whose pixels are 1, 2.
const Bytes smallImage = {
    0x2C,                    // image separator
    0x01, 0x00, 0x01, 0x00,  // left 1, top 1
    0x02, 0x00, 0x01, 0x00,  // width 2, height 1
    0x00,                    // packed: no local table, not interlaced
    0x02,                    // LZW minimum code size
    0x02, 0x8C, 0x0A,        // sub-block: clear 4, 1, 2, end 5 (3 bits each)
    0x00,                    // block terminator
};

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes trailer = {0x3B};

}  // namespace

TEST(GifAnimation, SmallStreamGivesScreenColoursAndFrame)
{
    Parsed parsed(Join({smallScreen, smallImage, trailer}));
    const GifAnimation& gif = parsed.gif;
    EXPECT_EQ(gif.width, 4);
    EXPECT_EQ(gif.height, 2);
    ASSERT_EQ(gif.colourTable.count, 4);
    EXPECT_EQ(gif.colourTable.entries[1], 0xFFFFFFu);
    EXPECT_EQ(gif.colourTable.entries[2], 0x0000FFu);
    EXPECT_EQ(gif.colourTable.entries[3], 0x00FF00u);
    ASSERT_EQ(gif.frameCount, 1);
    EXPECT_EQ(gif.frameCapacity, 100);
    const GifFrame& frame = parsed.Frame(0);
    EXPECT_EQ(frame.left, 1);
    EXPECT_EQ(frame.top, 1);
    EXPECT_EQ(frame.width, 2);
    EXPECT_EQ(frame.height, 1);
    EXPECT_EQ(frame.interlaced, 0);
    EXPECT_EQ(frame.delay, 0u) << "no graphic control extension";
    EXPECT_EQ(ImagePixels(frame.bitmap), Bytes({1, 2}));
    EXPECT_EQ(parsed.input->buffer.pos, parsed.input->buffer.size) << "the trailer is read";
}

TEST(GifAnimation, ColourTripleIsRedLowGreenMiddleBlueHigh)
{
    Bytes bytes = {
        'G', 'I', 'F', '8', '7', 'a',  // any version
        0x01, 0x00, 0x01, 0x00,        // screen 1 x 1
        0x80, 0x00, 0x00,              // global table of 2 colours
        0x12, 0x34, 0x56,              // colour 0
        0xAB, 0xCD, 0xEF,              // colour 1
        0x3B,                          // trailer
    };
    Parsed parsed(bytes);
    ASSERT_EQ(parsed.gif.colourTable.count, 2);
    EXPECT_EQ(parsed.gif.colourTable.entries[0], 0x00563412u);
    EXPECT_EQ(parsed.gif.colourTable.entries[1], 0x00EFCDABu);
}

TEST(GifAnimation, SizeBitsSevenReadsAllTwoHundredFiftySixColours)
{
    GifWriter writer;
    writer.Screen(1, 1, 7);
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.colourTable.count, 256);
    EXPECT_EQ(parsed.gif.colourTable.entries[255], 0xFFu | (0xFEu << 8) | (0xFDu << 16));
    EXPECT_EQ(parsed.input->buffer.pos, parsed.input->buffer.size);
    EXPECT_EQ(parsed.gif.frameCount, 0);
}

TEST(GifAnimation, HeaderAndColourTableAloneGiveNoFrames)
{
    Parsed parsed(smallScreen);
    EXPECT_EQ(parsed.gif.colourTable.count, 4);
    EXPECT_EQ(parsed.gif.frameCount, 0);
    EXPECT_NE(parsed.gif.frames, nullptr);
}

TEST(GifAnimation, StreamWithoutGlobalTableKeepsCountZero)
{
    Bytes screen = smallScreen;
    screen[10] = 0x00;             // no global table
    screen.resize(13);             // and no colours behind the descriptor
    Parsed parsed(Join({screen, smallImage, trailer}));
    EXPECT_EQ(parsed.gif.colourTable.count, 0);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(ImagePixels(parsed.Frame(0).bitmap), Bytes({1, 2}));
}

TEST(GifAnimation, DelayGoesToTheNextImageOnly)
{
    const Bytes control = {
        0x21, 0xF9,  // graphic control extension
        0x04,        // block size
        0x00,        // packed
        0x2A, 0x01,  // delay 298
        0x00,        // transparent colour index
        0x00,        // terminator
    };
    Parsed parsed(Join({smallScreen, control, smallImage, smallImage, trailer}));
    ASSERT_EQ(parsed.gif.frameCount, 2);
    EXPECT_EQ(parsed.Frame(0).delay, 298u);
    EXPECT_EQ(parsed.Frame(1).delay, 0u);
}

TEST(GifAnimation, LaterOfTwoGraphicControlsWinsAndCommentKeepsIt)
{
    GifWriter writer;
    writer.bytes = smallScreen;
    writer.GraphicControl(5);
    writer.GraphicControl(7);
    writer.Comment("between the control and its image");
    writer.bytes.insert(writer.bytes.end(), smallImage.begin(), smallImage.end());
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(parsed.Frame(0).delay, 7u);
}

TEST(GifAnimation, ApplicationExtensionIsSkipped)
{
    GifWriter writer;
    writer.bytes = smallScreen;
    writer.LoopingExtension();
    writer.GraphicControl(3);
    writer.bytes.insert(writer.bytes.end(), smallImage.begin(), smallImage.end());
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(parsed.Frame(0).delay, 3u);
    EXPECT_EQ(ImagePixels(parsed.Frame(0).bitmap), Bytes({1, 2}));
}

TEST(GifAnimation, MalformedGraphicControlEndsParsing)
{
    const Bytes sizeFive = {0x21, 0xF9, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    const Bytes badTerminator = {0x21, 0xF9, 0x04, 0x00, 0x01, 0x00, 0x00, 0x07};
    for (const Bytes& control : {sizeFive, badTerminator}) {
        Parsed parsed(Join({smallScreen, smallImage, control, smallImage, trailer}));
        EXPECT_EQ(parsed.gif.frameCount, 1) << "the frame before it stays, none after";
    }
}

TEST(GifAnimation, UnknownBlockEndsParsingLikeTheTrailer)
{
    Parsed parsed(Join({smallScreen, smallImage, Bytes({0x00}), smallImage}));
    EXPECT_EQ(parsed.gif.frameCount, 1);
}

TEST(GifAnimation, HundredAndFirstImageGrowsTheListKeepingOrder)
{
    for (int images : {100, 101, 250}) {
        GifWriter writer;
        writer.Screen(300, 1, 1);
        for (int i = 0; i < images; ++i)
            writer.Image(i, 0, 1, 1, Bytes({static_cast<uint8_t>(i % 4)}), false, 2);
        writer.Trailer();
        Parsed parsed(writer.bytes);
        ASSERT_EQ(parsed.gif.frameCount, images);
        EXPECT_EQ(parsed.gif.frameCapacity, (images + 99) / 100 * 100) << images << " images";
        for (int i = 0; i < images; ++i) {
            ASSERT_EQ(parsed.Frame(i).left, i) << "frame " << i << " of " << images;
            EXPECT_EQ(ImagePixels(parsed.Frame(i).bitmap), Bytes({static_cast<uint8_t>(i % 4)}));
        }
    }
}

TEST(GifAnimation, DescriptorAtTheEndGivesFrameWithoutPixels)
{
    Bytes bytes = Join({smallScreen, smallImage});
    bytes.resize(smallScreen.size() + 10);  // separator and descriptor only
    Parsed parsed(bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    GifFrame& frame = parsed.Frame(0);
    EXPECT_EQ(frame.bitmap.pixels, nullptr);
    EXPECT_EQ(frame.bitmap.ownsPixels, 0);
    RECT rect = {-1, -2, -3, -4};
    EXPECT_EQ(frame.Bounds(rect), nullptr);
    EXPECT_EQ(rect.left, -1);
    EXPECT_EQ(rect.bottom, -4);
}

TEST(GifAnimation, DescriptorCutShortGivesFrameWithoutPixels)
{
    Bytes bytes = Join({smallScreen, smallImage});
    bytes.resize(smallScreen.size() + 6);  // separator, left, top, half the width
    Parsed parsed(bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(parsed.Frame(0).bitmap.pixels, nullptr);
    EXPECT_EQ(parsed.Frame(0).delay, 0u);
}

TEST(GifAnimation, BoundsGivesTheFrameRectangle)
{
    Parsed parsed(Join({smallScreen, smallImage, trailer}));
    RECT rect = {};
    EXPECT_EQ(parsed.Frame(0).Bounds(rect), &parsed.Frame(0).bitmap);
    EXPECT_EQ(rect.left, 1);
    EXPECT_EQ(rect.top, 1);
    EXPECT_EQ(rect.right, 3);
    EXPECT_EQ(rect.bottom, 2);
}

TEST(GifAnimation, ImageWithBadMinimumCodeSizeIsKeptAndParsingGoesOn)
{
    Bytes bad = smallImage;
    bad[10] = 0x0C;  // minimum code size 12
    Parsed parsed(Join({smallScreen, bad, smallImage, trailer}));
    ASSERT_EQ(parsed.gif.frameCount, 2);
    EXPECT_NE(parsed.Frame(0).bitmap.pixels, nullptr);
    EXPECT_EQ(ImagePixels(parsed.Frame(1).bitmap), Bytes({1, 2}));
}

TEST(GifAnimation, ZeroWidthImageIsSkippedAndTheNextOneDecodes)
{
    GifWriter writer;
    writer.bytes = smallScreen;
    writer.Descriptor(0, 0, 0, 5);
    writer.Data(2, Bytes({1, 2, 3}));
    writer.bytes.insert(writer.bytes.end(), smallImage.begin(), smallImage.end());
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 2);
    EXPECT_EQ(parsed.Frame(0).width, 0);
    EXPECT_EQ(ImagePixels(parsed.Frame(1).bitmap), Bytes({1, 2}));
}

TEST(GifAnimation, ImageWiderThan2048Decodes)
{
    GifWriter writer;
    writer.Screen(5000, 3, 7);
    Bytes pixels = PatternPixels(5000, 3, 256);
    writer.Image(0, 0, 5000, 3, pixels);
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_TRUE(ImagePixels(parsed.Frame(0).bitmap) == pixels);
}

TEST(GifAnimation, InterlacedImageRowsAreInImageOrder)
{
    GifWriter writer;
    writer.Screen(3, 11, 7);
    Bytes pixels = PatternPixels(3, 11, 256);
    writer.Image(0, 0, 3, 11, pixels, true);
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(parsed.Frame(0).interlaced, 0x40);
    EXPECT_EQ(ImagePixels(parsed.Frame(0).bitmap), pixels);
}

TEST(GifAnimation, LocalColourTableIsSkippedAndMappedToNearestGlobalColour)
{
    GifWriter writer;
    writer.bytes = smallScreen;        // black, white, red, green
    writer.Descriptor(0, 0, 4, 1, false, 1);
    writer.Colour(0x10, 0xF0, 0x10);   // local 0: nearly green -> 3
    writer.Colour(0xF0, 0xF0, 0xE0);   // local 1: nearly white -> 1
    writer.Colour(0x80, 0x00, 0x00);   // local 2: dark red, nearer red than black -> 2
    writer.Colour(0x7F, 0x00, 0x00);   // local 3: nearer black -> 0
    writer.Data(2, Bytes({0, 1, 2, 3}));
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(ImagePixels(parsed.Frame(0).bitmap), Bytes({3, 1, 2, 0}));
}

TEST(GifAnimation, LocalRemapTiesGoToLowestGlobalIndexAndUndefinedIndicesStay)
{
    Bytes screen = {
        'G', 'I', 'F', '8', '9', 'a',
        0x04, 0x00, 0x01, 0x00,  // screen 4 x 1
        0x81, 0x00, 0x00,        // global table of 4 colours
        0x00, 0x00, 0xFF,        // 0 blue
        0xFF, 0x00, 0x00,        // 1 red
        0xFF, 0x00, 0x00,        // 2 red again
        0x00, 0x00, 0xFF,        // 3 blue again
    };
    GifWriter writer;
    writer.bytes = screen;
    writer.Descriptor(0, 0, 4, 1, false, 0);  // local table of 2 colours
    writer.Colour(0xFF, 0x00, 0x00);          // local 0: red, in global 1 and 2
    writer.Colour(0x00, 0x00, 0xFF);          // local 1: blue, in global 0 and 3
    writer.Data(2, Bytes({0, 1, 2, 3}));      // 2 and 3 have no local entry
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(ImagePixels(parsed.Frame(0).bitmap), Bytes({1, 0, 2, 3}));
}

TEST(GifAnimation, LocalTableWithoutGlobalTableKeepsIndices)
{
    GifWriter writer;
    writer.Screen(4, 1, -1);
    writer.Descriptor(0, 0, 4, 1, false, 1);
    for (int i = 0; i < 4; ++i)
        writer.Colour(0, 0, 255 - i);
    writer.Data(2, Bytes({3, 2, 1, 0}));
    writer.Trailer();
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(ImagePixels(parsed.Frame(0).bitmap), Bytes({3, 2, 1, 0}));
}

TEST(GifAnimation, LocalTableCutByTheEndGivesFrameWithoutPixels)
{
    GifWriter writer;
    writer.bytes = smallScreen;
    writer.Descriptor(0, 0, 4, 1, false, 1);
    writer.Colour(1, 2, 3);
    writer.Colour(4, 5, 6);  // two of four colours, then the end
    Parsed parsed(writer.bytes);
    ASSERT_EQ(parsed.gif.frameCount, 1);
    EXPECT_EQ(parsed.Frame(0).bitmap.pixels, nullptr);
}

TEST(GifAnimation, ReleaseFreesFramesAndIsHarmlessWhenNeverParsed)
{
    GifAnimation never = {};
    never.Release();
    EXPECT_EQ(never.frames, nullptr);

    GifAnimation gif = {};
    LoadedBuffer input(Join({smallScreen, smallImage, smallImage, trailer}));
    gif.Parse(input.buffer);
    ASSERT_EQ(gif.frameCount, 2);
    gif.Release();
    EXPECT_EQ(gif.frames, nullptr);
}

TEST(GifAnimation, ProcessWideAnimationStartsEmpty)
{
    EXPECT_EQ(animation.frames, nullptr);
    EXPECT_EQ(animation.colourTable.count, 0);
    LoadedBuffer input(Join({smallScreen, smallImage, trailer}));
    animation.Parse(input.buffer);
    EXPECT_EQ(animation.frameCount, 1);
    animation.Release();
    EXPECT_EQ(animation.frames, nullptr);
}

// A small animation with every kind of block, cut at each length from 0 to
// its full size: the buffer is allocated exactly, so any read past the cut
// is caught, and every frame whose image ended before the cut must come out
// as in the whole stream.
TEST(GifAnimation, TruncationAtEveryOffsetKeepsFramesBeforeTheCut)
{
    GifWriter writer;
    writer.Screen(6, 5, 2);
    writer.LoopingExtension();
    std::vector<size_t> separators;
    std::vector<size_t> imageEnds;
    for (int i = 0; i < 3; ++i) {
        writer.GraphicControl(10 + i);
        if (i == 1)
            writer.Comment("second frame");
        separators.push_back(writer.bytes.size());
        writer.Image(i, 0, 6 - i, 5, PatternPixels(6 - i, 5, 8, i), i == 2, 3);
        imageEnds.push_back(writer.bytes.size());
    }
    writer.Trailer();
    const Bytes& whole = writer.bytes;

    Parsed reference(whole);
    ASSERT_EQ(reference.gif.frameCount, 3);

    for (size_t length = 0; length <= whole.size(); ++length) {
        Parsed cut(whole, length);
        int started = 0;
        for (size_t at : separators)
            started += at < length ? 1 : 0;
        ASSERT_EQ(cut.gif.frameCount, started) << "cut at " << length;
        EXPECT_LE(cut.input->buffer.pos, cut.input->buffer.size) << "cut at " << length;
        for (int i = 0; i < started; ++i) {
            if (imageEnds[i] > length)
                continue;
            const GifFrame& expected = reference.Frame(i);
            const GifFrame& actual = cut.Frame(i);
            EXPECT_EQ(actual.left, expected.left) << "cut at " << length << ", frame " << i;
            EXPECT_EQ(actual.delay, expected.delay) << "cut at " << length << ", frame " << i;
            EXPECT_EQ(ImagePixels(actual.bitmap), ImagePixels(expected.bitmap))
                << "cut at " << length << ", frame " << i;
        }
    }
}
