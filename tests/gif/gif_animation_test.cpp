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

// The first bytes of a stream, as a buffer cut there would hold them.
Bytes Prefix(const Bytes& bytes, size_t length)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// The colour count, then per frame its delay and its pixels top row first.
std::string Summary(const GifAnimation& gif)
{
    std::string text = std::to_string(gif.colourTable.count) + " colours";
    for (int i = 0; i < gif.frameCount; ++i) {
        const GifFrame& frame = *gif.frames[i];
        text += "; delay " + std::to_string(frame.delay);
        if (!frame.bitmap.pixels) {
            text += ", no pixels";
            continue;
        }
        text += ":";
        for (uint8_t pixel : ImagePixels(frame.bitmap))
            text += " " + std::to_string(pixel);
    }
    return text;
}

struct Stream {
    const char* name;
    Bytes bytes;
    const char* summary;
};

void PrintTo(const Stream& stream, std::ostream* out) { *out << stream.name; }

const Bytes screenWithoutTable = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 2, 0, 0x00, 0, 0};
const Bytes delay298 = {0x21, 0xF9, 4, 0x00, 0x2A, 0x01, 0x00, 0x00};  // graphic control

// Screen 4 x 1 whose colours come twice: blue, red, red, blue.
const Bytes twiceTheSameColours = {
    'G', 'I', 'F', '8', '9', 'a', 4, 0, 1, 0, 0x81, 0, 0,
    0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF,
};

const Stream streams[] = {
    {"HeaderAndColourTableAloneGiveNoFrames", smallScreen, "4 colours"},
    {"StreamWithoutGlobalTableKeepsCountZero", Join({screenWithoutTable, smallImage, trailer}),
     "0 colours; delay 0: 1 2"},
    {"DelayGoesToTheNextImageOnly", Join({smallScreen, delay298, smallImage, smallImage, trailer}),
     "4 colours; delay 298: 1 2; delay 0: 1 2"},
    {"LaterOfTwoGraphicControlsWinsAndCommentKeepsIt",
     GifWriter(smallScreen).GraphicControl(5).GraphicControl(7)
         .Comment("between the control and its image").Append(smallImage).Trailer().bytes,
     "4 colours; delay 7: 1 2"},
    {"ApplicationExtensionIsSkipped",
     GifWriter(smallScreen).LoopingExtension().GraphicControl(3).Append(smallImage).Trailer().bytes,
     "4 colours; delay 3: 1 2"},
    // The frame before a malformed block stays, none after it.
    {"GraphicControlOfSizeFiveEndsParsing",
     Join({smallScreen, smallImage, Bytes{0x21, 0xF9, 5, 0, 1, 0, 0, 0, 0}, smallImage, trailer}),
     "4 colours; delay 0: 1 2"},
    {"GraphicControlWithBadTerminatorEndsParsing",
     Join({smallScreen, smallImage, Bytes{0x21, 0xF9, 4, 0, 1, 0, 0, 7}, smallImage, trailer}),
     "4 colours; delay 0: 1 2"},
    {"UnknownBlockEndsParsingLikeTheTrailer",
     Join({smallScreen, smallImage, Bytes{0x00}, smallImage}), "4 colours; delay 0: 1 2"},
    // Separator and descriptor only.
    {"DescriptorAtTheEndGivesFrameWithoutPixels",
     Prefix(Join({smallScreen, smallImage}), smallScreen.size() + 10),
     "4 colours; delay 0, no pixels"},
    // Separator, left, top and half the width.
    {"DescriptorCutShortGivesFrameWithoutPixels",
     Prefix(Join({smallScreen, smallImage}), smallScreen.size() + 6),
     "4 colours; delay 0, no pixels"},
    // Global colours black, white, red, green.
    {"LocalColourTableIsSkippedAndMappedToNearestGlobalColour",
     GifWriter(smallScreen)
         .Descriptor(0, 0, 4, 1, false, 1)
         .Colour(0x10, 0xF0, 0x10)  // nearly green -> 3
         .Colour(0xF0, 0xF0, 0xE0)  // nearly white -> 1
         .Colour(0x80, 0x00, 0x00)  // dark red, nearer red than black -> 2
         .Colour(0x7F, 0x00, 0x00)  // nearer black -> 0
         .Data(2, {0, 1, 2, 3}).Trailer().bytes,
     "4 colours; delay 0: 3 1 2 0"},
    {"LocalRemapTiesGoToLowestGlobalIndexAndUndefinedIndicesStay",
     GifWriter(twiceTheSameColours)
         .Descriptor(0, 0, 4, 1, false, 0)
         .Colour(0xFF, 0x00, 0x00)  // red, in global 1 and 2
         .Colour(0x00, 0x00, 0xFF)  // blue, in global 0 and 3
         .Data(2, {0, 1, 2, 3})     // 2 and 3 have no local entry
         .Trailer().bytes,
     "4 colours; delay 0: 1 0 2 3"},
    {"LocalTableWithoutGlobalTableKeepsIndices",
     GifWriter().Screen(4, 1, -1).Descriptor(0, 0, 4, 1, false, 1)
         .Colour(0, 0, 255).Colour(0, 0, 254).Colour(0, 0, 253).Colour(0, 0, 252)
         .Data(2, {3, 2, 1, 0}).Trailer().bytes,
     "0 colours; delay 0: 3 2 1 0"},
    // Two of four colours, then the end.
    {"LocalTableCutByTheEndGivesFrameWithoutPixels",
     GifWriter(smallScreen).Descriptor(0, 0, 4, 1, false, 1).Colour(1, 2, 3).Colour(4, 5, 6).bytes,
     "4 colours; delay 0, no pixels"},
};

}  // namespace

class GifStream : public testing::TestWithParam<Stream> {};

TEST_P(GifStream, GivesColoursAndFrames)
{
    Parsed parsed(GetParam().bytes);
    EXPECT_NE(parsed.gif.frames, nullptr);
    EXPECT_EQ(Summary(parsed.gif), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(GifAnimation, GifStream, testing::ValuesIn(streams),
                         [](const testing::TestParamInfo<Stream>& info) {
                             return std::string(info.param.name);
                         });

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
    Parsed parsed(GifWriter().Screen(1, 1, 7).Trailer().bytes);
    ASSERT_EQ(parsed.gif.colourTable.count, 256);
    EXPECT_EQ(parsed.gif.colourTable.entries[255], 0xFFu | (0xFEu << 8) | (0xFDu << 16));
    EXPECT_EQ(parsed.input->buffer.pos, parsed.input->buffer.size);
    EXPECT_EQ(parsed.gif.frameCount, 0);
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

TEST(GifAnimation, BoundsGivesTheFrameRectangleOnlyWithPixels)
{
    Parsed whole(Join({smallScreen, smallImage, trailer}));
    RECT rect = {};
    EXPECT_EQ(whole.Frame(0).Bounds(rect), &whole.Frame(0).bitmap);
    EXPECT_EQ(rect.left, 1);
    EXPECT_EQ(rect.top, 1);
    EXPECT_EQ(rect.right, 3);
    EXPECT_EQ(rect.bottom, 2);

    Parsed descriptorOnly(Prefix(Join({smallScreen, smallImage}), smallScreen.size() + 10));
    ASSERT_EQ(descriptorOnly.gif.frameCount, 1);
    EXPECT_EQ(descriptorOnly.Frame(0).bitmap.ownsPixels, 0) << "no block was asked for";
    RECT untouched = {-1, -2, -3, -4};
    EXPECT_EQ(descriptorOnly.Frame(0).Bounds(untouched), nullptr);
    EXPECT_EQ(untouched.left, -1);
    EXPECT_EQ(untouched.bottom, -4);
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
    Parsed parsed(GifWriter(smallScreen)
                      .Descriptor(0, 0, 0, 5)
                      .Data(2, Bytes({1, 2, 3}))
                      .Append(smallImage)
                      .Trailer()
                      .bytes);
    ASSERT_EQ(parsed.gif.frameCount, 2);
    EXPECT_EQ(parsed.Frame(0).width, 0);
    EXPECT_EQ(ImagePixels(parsed.Frame(1).bitmap), Bytes({1, 2}));
}

// Wider than the decoder's line buffer, and interlaced: rows in image order.
TEST(GifAnimation, LargeImagesDecodeWhole)
{
    struct Case {
        int width, height;
        bool interlace;
    };
    for (const Case& test : {Case{5000, 3, false}, Case{3, 11, true}}) {
        SCOPED_TRACE(std::to_string(test.width) + " x " + std::to_string(test.height) +
                     (test.interlace ? " interlaced" : ""));
        Bytes pixels = PatternPixels(test.width, test.height, 256);
        Parsed parsed(GifWriter()
                          .Screen(test.width, test.height, 7)
                          .Image(0, 0, test.width, test.height, pixels, test.interlace)
                          .Trailer()
                          .bytes);
        ASSERT_EQ(parsed.gif.frameCount, 1);
        EXPECT_EQ(parsed.Frame(0).interlaced, test.interlace ? 0x40 : 0);
        EXPECT_TRUE(ImagePixels(parsed.Frame(0).bitmap) == pixels);
    }
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
