// Strings written whole into the line: real LZW streams (long strings, codes
// that refer to earlier strings) across 8-byte piece and line boundaries,
// and the one-character strings of root codes after an image with a smaller
// clear code has used their slots for its dictionary.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>

#include "gif/gif_bytes.h"
#include "gif/lzw_decoder.h"
#include "gif/row_placement.h"

namespace {

// A plain GIF LZW encoder: greedy longest match, clear code first and
// whenever the 4096 slots are full, end code last. The code width grows one
// code after the decoder's, since the decoder adds each string a code later.
Bytes EncodedImageData(int minCodeSize, const Bytes& pixels)
{
    const int clear = 1 << minCodeSize;
    CodePacker packer;
    std::map<std::pair<int, int>, int> strings;
    int width = minCodeSize + 1;
    int nextFree = clear + 2;
    packer.Put(clear, width);
    int current = pixels.empty() ? -1 : pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        auto found = strings.find({current, pixels[i]});
        if (found != strings.end()) {
            current = found->second;
            continue;
        }
        packer.Put(current, width);
        strings[{current, pixels[i]}] = nextFree++;
        if (nextFree > (1 << width) && width < 12)
            ++width;
        if (nextFree == 4096) {
            packer.Put(clear, width);
            strings.clear();
            width = minCodeSize + 1;
            nextFree = clear + 2;
        }
        current = pixels[i];
    }
    if (current >= 0)
        packer.Put(current, width);
    packer.Put(clear + 1, width);
    Bytes out{static_cast<uint8_t>(minCodeSize)};
    Bytes blocks = SubBlocks(packer.bytes());
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

class LzwStringTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        ReleasePixels(bitmap);
        source = nullptr;
        target = nullptr;
    }

    // Decodes `data` into a width x height bitmap; returns its pixels in
    // image order, top row first.
    Bytes Decode(const Bytes& data, int width, int height)
    {
        LoadedBuffer input(data);
        ReleasePixels(bitmap);
        AllocatePixels(bitmap, width, height);
        EXPECT_NE(bitmap.pixels, nullptr);
        std::memset(bitmap.pixels, 0xEE, static_cast<size_t>(bitmap.stride) * height);
        target = &bitmap;
        row = 0;
        interlaced = 0;
        source = &input.buffer;
        EXPECT_EQ(DecodeImage(static_cast<int16_t>(width)), 0);
        source = nullptr;
        Bytes out;
        for (int y = 0; y < height; ++y) {
            const uint8_t* line = PixelPointer(bitmap, 0, height - 1 - y);
            out.insert(out.end(), line, line + width);
        }
        return out;
    }

    IndexedBitmap bitmap = {};
};

// Runs of growing length over a few colours: the encoder makes strings of
// every length up to several dozen characters.
Bytes RunPixels(int count, int colours)
{
    Bytes pixels;
    for (int run = 1; static_cast<int>(pixels.size()) < count; ++run)
        for (int i = 0; i < run && static_cast<int>(pixels.size()) < count; ++i)
            pixels.push_back(static_cast<uint8_t>((run * 7 + i / 3) % colours));
    return pixels;
}

}  // namespace

TEST_F(LzwStringTest, EncodedStreamsDecodeAcrossPieceAndLineBoundaries)
{
    for (int minCodeSize : {2, 5, 8}) {
        const int colours = 1 << minCodeSize;
        for (int width : {1, 3, 7, 8, 9, 17, 64, 1000}) {
            const int height = 4000 / width + 1;
            Bytes pixels = RunPixels(width * height, colours < 6 ? colours : 6);
            EXPECT_EQ(Decode(EncodedImageData(minCodeSize, pixels), width, height), pixels)
                << "minimum code size " << minCodeSize << ", width " << width;
        }
    }
}

TEST_F(LzwStringTest, SingleColourRunsMakeStringsOfEveryLength)
{
    // One colour: every code after the first is one character longer than
    // the last, most of them read while they equal nextFree.
    for (int width : {5, 8, 300}) {
        Bytes pixels(static_cast<size_t>(width) * 40, 3);
        EXPECT_EQ(Decode(EncodedImageData(2, pixels), width, 40), pixels) << "width " << width;
    }
}

TEST_F(LzwStringTest, RootStringsSurviveAnImageWithASmallerClearCode)
{
    // The first image fills slots 6 and up, which are root codes 6..255 of
    // the second; the second then builds strings on those roots.
    Bytes small = PatternPixels(600, 1, 4);
    ASSERT_EQ(Decode(LiteralImageData(2, small), 600, 1), small);

    CodePacker codes;
    codes.Put(256, 9);  // clear
    codes.Put(200, 9);
    codes.Put(201, 9);  // slot 258 = 200 201
    codes.Put(258, 9);  // 200 201; slot 259 = 201 200
    codes.Put(259, 9);  // 201 200; slot 260 = 200 201 201
    codes.Put(260, 9);
    codes.Put(257, 9);  // end
    Bytes data{8};
    Bytes blocks = SubBlocks(codes.bytes());
    data.insert(data.end(), blocks.begin(), blocks.end());
    EXPECT_EQ(Decode(data, 10, 1), Bytes({200, 201, 200, 201, 201, 200, 200, 201, 201, 0xEE}));
}
