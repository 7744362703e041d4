#include "gif/lzw_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>

#include "gif/gif_bytes.h"
#include "gif/row_placement.h"

namespace {

const uint8_t sentinel = 0xEE;

// A frame bitmap filled with the sentinel, attached to the decoder the way
// the parser attaches it, with the image data in an exactly sized buffer.
class LzwDecoderTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        ReleasePixels(bitmap);
        DetachImage();
    }

    int16_t Decode(const Bytes& data, int width, int height, bool interlace = false)
    {
        input.reset(new LoadedBuffer(data));
        ReleasePixels(bitmap);
        AllocatePixels(bitmap, width, height);
        EXPECT_NE(bitmap.pixels, nullptr);
        if (bitmap.pixels)
            std::memset(bitmap.pixels, sentinel, static_cast<size_t>(bitmap.stride) * height);
        AttachImage(input->buffer, bitmap, interlace ? 0x40 : 0);
        return DecodeImage(width);
    }

    // Image row `y`, top row 0.
    Bytes Row(int y) const
    {
        const uint8_t* line = PixelPointer(bitmap, 0, bitmap.height - 1 - y);
        return Bytes(line, line + bitmap.width);
    }

    IndexedBitmap bitmap = {};
    std::unique_ptr<LoadedBuffer> input;
};

// Image data: minimum code size byte, the packed codes in one sub-block, the
// terminator.
Bytes ImageData(int minCodeSize, const CodePacker& codes)
{
    Bytes out{static_cast<uint8_t>(minCodeSize)};
    Bytes blocks = SubBlocks(codes.bytes());
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

Bytes Repeat(uint8_t value, int count)
{
    return Bytes(static_cast<size_t>(count), value);
}

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
    return ImageData(minCodeSize, packer);
}

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

TEST_F(LzwDecoderTest, WorkedExample)
{
    const Bytes data = {
        0x02,                    // minimum code size
        0x04,                    // sub-block of 4 bytes
        0x84, 0x11, 0x19, 0x05,  // codes 4 0 6 0 (3 bits), 1 9 1 5 (4 bits)
        0x00,                    // block terminator
    };
    EXPECT_EQ(Decode(data, 4, 2), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(Row(1), Bytes({1, 1, 1, 1}));
    // Image row 0 is the last memory line.
    EXPECT_EQ(PixelPointer(bitmap, 0, 1)[0], 0);
    EXPECT_EQ(PixelPointer(bitmap, 0, 0)[0], 1);

    EXPECT_EQ(nextFree, 11);
    EXPECT_EQ(codeSize, 4);
    // The end code came from bytes already held; the terminator is left.
    EXPECT_EQ(input->buffer.pos, 6);
    EXPECT_EQ(source, nullptr) << "the last row detaches the source";
}

TEST_F(LzwDecoderTest, CodeStateForEachMinimumCodeSize)
{
    struct Case { int16_t minCodeSize, clear, end, first, width; };
    const Case cases[] = {{2, 4, 5, 6, 3}, {8, 256, 257, 258, 9}, {9, 512, 513, 514, 10}};
    for (const Case& c : cases) {
        ResetCodes(c.minCodeSize);
        EXPECT_EQ(clearCode, c.clear) << "minimum code size " << c.minCodeSize;
        EXPECT_EQ(endCode, c.end) << "minimum code size " << c.minCodeSize;
        EXPECT_EQ(firstFree, c.first) << "minimum code size " << c.minCodeSize;
        EXPECT_EQ(nextFree, c.first) << "minimum code size " << c.minCodeSize;
        EXPECT_EQ(codeSize, c.width) << "minimum code size " << c.minCodeSize;
        EXPECT_EQ(widthLimit, 1 << c.width) << "minimum code size " << c.minCodeSize;
    }
}

TEST_F(LzwDecoderTest, MinimumCodeSizeOutsideTwoToNineIsRefused)
{
    for (int minCodeSize : {0, 1, 10, 11, 255}) {
        CodePacker codes;
        codes.Put(1u << (minCodeSize % 12), (minCodeSize % 12) + 1);
        EXPECT_EQ(Decode(ImageData(minCodeSize, codes), 2, 1), codeSizeOutOfRange)
            << "minimum code size " << minCodeSize;
        EXPECT_EQ(Row(0), Bytes({sentinel, sentinel})) << "minimum code size " << minCodeSize;
        EXPECT_EQ(input->buffer.pos, 1) << "only the minimum code size byte is read";
    }
}

TEST_F(LzwDecoderTest, MissingMinimumCodeSizeReturnsMinusOne)
{
    EXPECT_EQ(Decode(Bytes(), 2, 1), codeSizeMissing);
    EXPECT_EQ(Row(0), Bytes({sentinel, sentinel}));
}

TEST_F(LzwDecoderTest, DecodesMinimumCodeSizesTwoEightAndNine)
{
    for (int minCodeSize : {2, 8, 9}) {
        const int colours = minCodeSize == 2 ? 4 : 256;
        Bytes pixels = PatternPixels(37, 5, colours);
        ASSERT_EQ(Decode(LiteralImageData(minCodeSize, pixels), 37, 5), decodingEnded);
        for (int y = 0; y < 5; ++y)
            EXPECT_EQ(Row(y), Bytes(pixels.begin() + y * 37, pixels.begin() + (y + 1) * 37))
                << "minimum code size " << minCodeSize << ", row " << y;
    }
}

TEST_F(LzwDecoderTest, CharactersAboveByteRangeKeepTheirLowByte)
{
    // Minimum code size 9: roots run to 511 and are kept to their low byte.
    CodePacker codes;
    codes.Put(512, 10);  // clear
    codes.Put(300, 10);  // 300 -> 44
    codes.Put(257, 10);  // 257 -> 1
    codes.Put(513, 10);  // end
    EXPECT_EQ(Decode(ImageData(9, codes), 2, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({44, 1}));
}

TEST_F(LzwDecoderTest, CodeWidthGrowsOnceSlotSevenIsFilled)
{
    // Minimum code size 2: the second and third codes fill slots 6 and 7,
    // so the fourth code is the first one read with 4 bits.
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(1, 3);  // 1, no string added
    codes.Put(2, 3);  // 2, slot 6 = "1 2"
    codes.Put(3, 3);  // 3, slot 7 = "2 3", width now 4
    codes.Put(6, 4);  // "1 2"
    codes.Put(0, 4);  // 0
    codes.Put(5, 4);  // end
    EXPECT_EQ(Decode(ImageData(2, codes), 6, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({1, 2, 3, 1, 2, 0}));
    EXPECT_EQ(codeSize, 4);
}

TEST_F(LzwDecoderTest, ClearCodesInARowActAsOne)
{
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(1, 3);  // 1
    codes.Put(2, 3);  // 2, slot 6 = "1 2"
    codes.Put(4, 3);  // clear
    codes.Put(4, 3);  // clear
    codes.Put(4, 3);  // clear
    codes.Put(3, 3);  // 3, first code again: no string
    codes.Put(6, 3);  // 6 == nextFree: "3 3"
    codes.Put(5, 3);  // end
    EXPECT_EQ(Decode(ImageData(2, codes), 5, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({1, 2, 3, 3, 3}));
}

TEST_F(LzwDecoderTest, FirstCodeAfterClearAtOrAboveNextFreeIsZero)
{
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(7, 3);  // no string yet: taken as 0
    codes.Put(1, 3);  // 1, slot 6 = "0 1"
    codes.Put(6, 3);  // "0 1"
    codes.Put(5, 4);  // end (width 4 after slot 7)
    EXPECT_EQ(Decode(ImageData(2, codes), 4, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({0, 1, 0, 1}));
}

TEST_F(LzwDecoderTest, CodeEqualToNextFreeRepeatsPreviousStringAndItsFirstCharacter)
{
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(2, 3);  // 2
    codes.Put(1, 3);  // 1, slot 6 = "2 1"
    codes.Put(6, 3);  // "2 1", slot 7 = "1 2"
    codes.Put(8, 4);  // nextFree: "2 1" + "2", slot 8 = "2 1 2"
    codes.Put(5, 4);  // end
    EXPECT_EQ(Decode(ImageData(2, codes), 7, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({2, 1, 2, 1, 2, 1, 2}));
}

TEST_F(LzwDecoderTest, CodeAboveNextFreeDecodesLikeNextFree)
{
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(3, 3);  // 3
    codes.Put(7, 3);  // above nextFree 6: "3" + "3"
    codes.Put(5, 4);  // end
    EXPECT_EQ(Decode(ImageData(2, codes), 3, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({3, 3, 3}));
}

TEST_F(LzwDecoderTest, StreamWithoutLeadingClearCodeStartsLikeAfterOne)
{
    // The first code has nothing before it and so adds no string; the
    // second makes slot 6, which the third uses.
    CodePacker codes;
    codes.Put(1, 3);  // 1
    codes.Put(2, 3);  // 2, slot 6 = "1 2"
    codes.Put(6, 3);  // "1 2"
    codes.Put(5, 4);  // end
    EXPECT_EQ(Decode(ImageData(2, codes), 4, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({1, 2, 1, 2}));
}

TEST_F(LzwDecoderTest, FullDictionaryKeepsDecodingAtTwelveBitsUntilClear)
{
    // Literal codes fill slots 258..4095 (slot 258 + j holds pixels j, j + 1);
    // then literals go on at 12 bits with no new strings, a code uses the
    // last slot, and a clear code brings the width back to 9 bits.
    const int filling = 1 + (4096 - 258);
    Bytes pixels = PatternPixels(filling + 50, 1, 256);
    CodePacker codes;
    int width = 9;
    int next = 258;
    codes.Put(256, 9);
    for (size_t i = 0; i < pixels.size(); ++i) {
        codes.Put(pixels[i], width);
        if (i > 0 && next < 4096 && ++next == (1 << width) && width < 12)
            ++width;
    }
    ASSERT_EQ(width, 12);
    codes.Put(4095, 12);  // pixels[filling - 2], pixels[filling - 1]
    codes.Put(256, 12);   // clear
    codes.Put(7, 9);
    codes.Put(257, 9);    // end

    Bytes expected = pixels;
    expected.push_back(pixels[filling - 2]);
    expected.push_back(pixels[filling - 1]);
    expected.push_back(7);
    const int total = static_cast<int>(expected.size());
    EXPECT_EQ(Decode(ImageData(8, codes), total, 1), decodingEnded);
    EXPECT_EQ(Row(0), expected);
    EXPECT_EQ(codeSize, 9);
}

TEST_F(LzwDecoderTest, ZeroLengthSubBlockEndsTheDataAndIsLeftForTheCaller)
{
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(1, 3);  // 1: row 0 of a 1 x 3 image
    const Bytes data = {
        0x02,                            // minimum code size
        0x01, codes.bytes()[0],          // sub-block: clear, 1
        0x00,                            // terminator, though rows are missing
        0x2C, 0x00,                      // the next block of the stream
    };
    EXPECT_EQ(Decode(data, 1, 3), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({1}));
    EXPECT_EQ(Row(1), Bytes({sentinel}));
    EXPECT_EQ(input->buffer.pos, 3) << "the terminator must stay unread";
}

TEST_F(LzwDecoderTest, EmptySubBlockRightAfterMinimumCodeSize)
{
    const Bytes data = {
        0x02,  // minimum code size
        0x00,  // terminator, no data at all
    };
    EXPECT_EQ(Decode(data, 2, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({sentinel, sentinel}));
    EXPECT_EQ(input->buffer.pos, 1);
}

TEST_F(LzwDecoderTest, LastRowDetachesSourceBeforeTheNextSubBlock)
{
    CodePacker first;
    first.Put(4, 3);  // clear
    first.Put(1, 3);  // 1
    first.Put(2, 3);  // 2: the whole 2 x 1 image
    CodePacker second;
    second.Put(3, 4);
    second.Put(5, 4);
    Bytes data = {0x02, static_cast<uint8_t>(first.bytes().size())};
    data.insert(data.end(), first.bytes().begin(), first.bytes().end());
    const int32_t secondBlockAt = static_cast<int32_t>(data.size());
    data.push_back(static_cast<uint8_t>(second.bytes().size()));
    data.insert(data.end(), second.bytes().begin(), second.bytes().end());
    data.push_back(0);

    EXPECT_EQ(Decode(data, 2, 1), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({1, 2}));
    EXPECT_EQ(source, nullptr);
    EXPECT_EQ(input->buffer.pos, secondBlockAt) << "no sub-block is read after the last row";
}

TEST_F(LzwDecoderTest, EndCodeInsideALinePlacesThePartialLine)
{
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(1, 3);
    codes.Put(2, 3);
    codes.Put(3, 3);
    codes.Put(5, 4);  // end after 3 of 10 pixels
    EXPECT_EQ(Decode(ImageData(2, codes), 10, 2), decodingEnded);
    Bytes expected = Repeat(sentinel, 10);
    expected[0] = 1;
    expected[1] = 2;
    expected[2] = 3;
    EXPECT_EQ(Row(0), expected);
    EXPECT_EQ(Row(1), Repeat(sentinel, 10));
    EXPECT_EQ(row, 1) << "a partial line still takes its row";
}

TEST_F(LzwDecoderTest, DataThatStopsPlacesOnlyCompleteLines)
{
    // Codes clear, 1, 2 (3 bits), 3 (3 bits, fills slot 7), 1 (4 bits):
    // exactly 16 bits, so no padding bit can be taken for another code.
    Bytes codes = LiteralCodes(2, Bytes({1, 2, 3, 1}), true, false);
    ASSERT_EQ(codes.size(), 2u);
    Bytes data = {0x02, static_cast<uint8_t>(codes.size())};
    data.insert(data.end(), codes.begin(), codes.end());  // the buffer ends here
    EXPECT_EQ(Decode(data, 3, 2), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({1, 2, 3}));
    EXPECT_EQ(Row(1), Bytes({sentinel, sentinel, sentinel}));
}

TEST_F(LzwDecoderTest, CyclicPrefixChainEndsTheImageAtTheStackLimit)
{
    // A code above nextFree becomes previousCode as read, so the next string
    // gets a prefix that points at its own slot: 7 -> 7 -> 7 ...
    CodePacker codes;
    codes.Put(4, 3);  // clear
    codes.Put(1, 3);  // 1
    codes.Put(7, 3);  // above nextFree 6: "1 1", previousCode 7
    codes.Put(1, 3);  // 1, slot 7 = prefix 7, suffix 1; width 4
    codes.Put(7, 4);  // endless walk through slot 7
    codes.Put(1, 4);
    codes.Put(5, 4);  // end
    EXPECT_EQ(Decode(ImageData(2, codes), 2, 3), decodingEnded);
    EXPECT_EQ(Row(0), Bytes({1, 1}));
    EXPECT_EQ(Row(1), Bytes({1, 1}));
    EXPECT_EQ(Row(2), Bytes({sentinel, sentinel})) << "nothing after the malformed string";
}

TEST_F(LzwDecoderTest, WalkAfterClearReadsSlotsThatRunsOfLiteralsFilled)
{
    // A hundred literals: after a line of them the decoder takes literals
    // after literals on a path of their own, whose slots a malformed stream
    // can walk into after the clear code (slot 258 + k holds p[k], p[k + 1]).
    Bytes pixels;
    for (int i = 0; i < 100; ++i)
        pixels.push_back(static_cast<uint8_t>((i * 7 + 3) % 256));
    CodePacker codes;
    codes.Put(256, 9);  // clear
    for (uint8_t pixel : pixels)
        codes.Put(pixel, 9);
    codes.Put(256, 9);  // clear
    codes.Put(5, 9);    // 5
    codes.Put(300, 9);  // above nextFree 258: "5 5", previousCode 300
    codes.Put(259, 9);  // nextFree, after a code without a string: walked
    codes.Put(257, 9);  // end

    Bytes expected = pixels;
    for (uint8_t pixel : {5, 5, 5, static_cast<int>(pixels[42]), static_cast<int>(pixels[43]), 5})
        expected.push_back(pixel);
    const int width = 40;
    const int height = static_cast<int>(expected.size() + width - 1) / width;
    EXPECT_EQ(Decode(ImageData(8, codes), width, height), decodingEnded);
    Bytes decoded = ImagePixels(bitmap);
    decoded.resize(expected.size());
    EXPECT_EQ(decoded, expected);
}

TEST_F(LzwDecoderTest, LinesWiderThan2048Decode)
{
    for (int width : {2048, 2049, 3000}) {
        Bytes pixels = PatternPixels(width, 3, 256, width);
        ASSERT_EQ(Decode(LiteralImageData(8, pixels), width, 3), decodingEnded);
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(Row(y), Bytes(pixels.begin() + y * width, pixels.begin() + (y + 1) * width))
                << "width " << width << ", row " << y;
    }
}

TEST_F(LzwDecoderTest, WidestLineDecodes)
{
    Bytes pixels = PatternPixels(maxLineWidth, 1, 256);
    ASSERT_EQ(Decode(LiteralImageData(8, pixels), maxLineWidth, 1), decodingEnded);
    EXPECT_EQ(Row(0), pixels);
}

TEST_F(LzwDecoderTest, ZeroWidthReadsOnlyTheMinimumCodeSize)
{
    Bytes data = LiteralImageData(2, Bytes({1, 2}));
    input.reset(new LoadedBuffer(data));
    source = &input->buffer;
    target = nullptr;
    row = 0;
    EXPECT_EQ(DecodeImage(0), decodingEnded);
    EXPECT_EQ(input->buffer.pos, 1);
}

TEST_F(LzwDecoderTest, NextByteStopsAtTheEndAndWithoutSource)
{
    input.reset(new LoadedBuffer(Bytes({7, 9})));
    source = &input->buffer;
    EXPECT_EQ(NextByte(), 7);
    EXPECT_EQ(NextByte(), 9);
    EXPECT_EQ(NextByte(), -1);
    EXPECT_EQ(input->buffer.pos, 2);
    source = nullptr;
    EXPECT_EQ(NextByte(), -1);

    // A buffer whose block could not be had still carries its size.
    MemoryBuffer unallocated(4);
    uint8_t* block = unallocated.data;
    unallocated.data = nullptr;
    source = &unallocated;
    EXPECT_EQ(NextByte(), -1) << "a buffer without a block holds no bytes";
    unallocated.data = block;
}

TEST_F(LzwDecoderTest, CodesStraddleSubBlocksOfEverySize)
{
    // Bits are taken a word at a time inside a sub-block and a byte at a
    // time across its end: codes must come out the same whatever the
    // sub-block sizes. One row more than the pixels fill, so the source is
    // never detached and the end code is read.
    Bytes pixels = RunPixels(1500, 5);
    Bytes encoded = EncodedImageData(3, pixels);
    const Bytes codeBytes(encoded.begin() + 2, encoded.end() - 1);  // one sub-block of them
    ASSERT_EQ(encoded[1], codeBytes.size());
    for (size_t blockSize : {1, 2, 3, 4, 5, 7, 8, 9, 100, 255}) {
        Bytes data{3};
        Bytes blocks = SubBlocks(codeBytes, blockSize);
        data.insert(data.end(), blocks.begin(), blocks.end());
        data.push_back(0);
        EXPECT_EQ(Decode(data, 100, 16), decodingEnded);
        Bytes decoded = ImagePixels(bitmap);
        decoded.resize(pixels.size());
        EXPECT_EQ(decoded, pixels) << "sub-blocks of " << blockSize;
    }
}

TEST_F(LzwDecoderTest, DataCutAnywhereStopsAtTheBufferEndKeepingWholeRows)
{
    // Literal codes in sub-blocks of 3 bytes, cut at every length: at a
    // count byte, or inside a sub-block that its count promises (which is
    // then not used at all).
    Bytes pixels = PatternPixels(8, 3, 4);
    Bytes data{2};
    Bytes blocks = SubBlocks(LiteralCodes(2, pixels), 3);
    data.insert(data.end(), blocks.begin(), blocks.end());
    for (size_t cut = 1; cut < data.size(); ++cut) {
        Bytes shortData(data.begin(), data.begin() + cut);
        EXPECT_EQ(Decode(shortData, 8, 3), decodingEnded);
        EXPECT_EQ(input->buffer.pos, static_cast<int32_t>(cut)) << "cut at " << cut;
        bool reached = true;
        for (int y = 0; y < 3; ++y) {
            Bytes expected(pixels.begin() + 8 * y, pixels.begin() + 8 * (y + 1));
            if (Row(y) != expected) {
                reached = false;
                EXPECT_EQ(Row(y), Bytes(8, sentinel)) << "cut at " << cut << ", row " << y;
            } else {
                EXPECT_TRUE(reached) << "cut at " << cut << ": row " << y << " after a missing row";
            }
        }
    }
}

// Strings are written into the line whole, in 8-byte pieces: real LZW
// streams (long strings, codes that refer to earlier strings) across piece
// and line boundaries.
TEST_F(LzwDecoderTest, EncodedStreamsDecodeAcrossPieceAndLineBoundaries)
{
    for (int minCodeSize : {2, 5, 8}) {
        const int colours = 1 << minCodeSize;
        for (int width : {1, 3, 7, 8, 9, 17, 64, 1000}) {
            const int height = 4000 / width + 1;
            Bytes pixels = RunPixels(width * height, colours < 6 ? colours : 6);
            EXPECT_EQ(Decode(EncodedImageData(minCodeSize, pixels), width, height), decodingEnded);
            EXPECT_EQ(ImagePixels(bitmap), pixels)
                << "minimum code size " << minCodeSize << ", width " << width;
        }
    }
}

// Lines follow one another in the collecting buffer; what the strings wrote
// past the last whole line moves to its front only when the next line could
// reach past 64 KiB. Long strings over many lines, ending with the end code
// inside a line, cross that move at many offsets.
TEST_F(LzwDecoderTest, ManyLinesOfLongStringsSurviveTheBufferMovingItsRest)
{
    struct Case {
        int minCodeSize;
        int width;
        int colours;
    };
    for (Case c : {Case{2, 1, 1}, Case{2, 1000, 2}, Case{8, 4097, 6}, Case{2, 30001, 1},
                   Case{5, maxLineWidth, 3}}) {
        const int height = 300000 / c.width + 2;
        Bytes pixels = RunPixels(c.width * (height - 1) + c.width / 2, c.colours);
        ASSERT_EQ(Decode(EncodedImageData(c.minCodeSize, pixels), c.width, height), decodingEnded);
        Bytes expected = pixels;
        expected.resize(static_cast<size_t>(c.width) * height, sentinel);
        EXPECT_EQ(ImagePixels(bitmap), expected) << "width " << c.width;
    }
}

TEST_F(LzwDecoderTest, SingleColourRunsMakeStringsOfEveryLength)
{
    // One colour: every code after the first is one character longer than
    // the last, most of them read while they equal nextFree.
    for (int width : {5, 8, 300}) {
        Bytes pixels(static_cast<size_t>(width) * 40, 3);
        EXPECT_EQ(Decode(EncodedImageData(2, pixels), width, 40), decodingEnded);
        EXPECT_EQ(ImagePixels(bitmap), pixels) << "width " << width;
    }
}

TEST_F(LzwDecoderTest, RootStringsSurviveAnImageWithASmallerClearCode)
{
    // The first image fills slots 6 and up, which are root codes 6..255 of
    // the second; the second then builds strings on those roots.
    Bytes small = PatternPixels(600, 1, 4);
    ASSERT_EQ(Decode(LiteralImageData(2, small), 600, 1), decodingEnded);
    ASSERT_EQ(ImagePixels(bitmap), small);

    CodePacker codes;
    codes.Put(256, 9);  // clear
    codes.Put(200, 9);
    codes.Put(201, 9);  // slot 258 = 200 201
    codes.Put(258, 9);  // 200 201; slot 259 = 201 200
    codes.Put(259, 9);  // 201 200; slot 260 = 200 201 201
    codes.Put(260, 9);
    codes.Put(257, 9);  // end
    EXPECT_EQ(Decode(ImageData(8, codes), 10, 1), decodingEnded);
    EXPECT_EQ(ImagePixels(bitmap),
              Bytes({200, 201, 200, 201, 201, 200, 200, 201, 201, sentinel}));
}
