// The LZW decoder as it was before it was rewritten for speed, kept
// unchanged in behaviour as the oracle that the differential tests and
// fuzzer compare the product decoder against. It reads its bytes and places
// its lines through the product's source, NextByte and row placement, so
// that the two differ in their LZW decoding alone. Built only into tests and
// the fuzzer; its own state lives in namespace reference.
#include "gif/oracle/reference_decoder.h"

#include <cstring>

#include "gif/lzw_decoder.h"
#include "gif/row_placement.h"

namespace reference {

int16_t codeSize = 0;
int16_t clearCode = 0;
int16_t endCode = 0;
int16_t firstFree = 0;
int16_t nextFree = 0;
int16_t widthLimit = 0;
int16_t blockRemaining = 0;
uint8_t currentByte = 0;
int16_t bitsLeft = 0;

int16_t prefix[dictionarySize];
uint8_t suffix[dictionarySize];

namespace {

const int32_t largestCodeSize = 12;
const uint32_t codeMask[largestCodeSize + 1] = {
    0x000, 0x001, 0x003, 0x007, 0x00F, 0x01F, 0x03F, 0x07F, 0x0FF, 0x1FF, 0x3FF, 0x7FF, 0xFFF,
};

// One data sub-block, read whole before its first bit is used.
uint8_t blockBuffer[255];
int32_t blockReadPoint = 0;

// Strings whose prefix chain cannot be trusted are walked onto this stack,
// last character first. No well-formed string is longer than the
// dictionary, so a walk that would overflow it is malformed.
uint8_t stack[dictionarySize];

// Every slot's string in 8-byte pieces, so that a string is written into the
// line a piece at a time rather than one prefix step per character. A string
// of n characters is its last ((n - 1) % 8) + 1 characters, in stringTail
// (first of them in the low byte, unused bytes 0), behind the string of slot
// stringHead, whose length is a multiple of 8 (unused when n <= 8). Pieces
// are stored as 64-bit numbers and written with their low byte first, which
// is the byte order of both the player's and the host's processor.
// Length 0 marks a string made from a previous code that had no such string
// (only a malformed stream makes one); it is walked through prefix and
// suffix on the stack instead.
uint16_t stringLength[dictionarySize];
uint64_t stringTail[dictionarySize];
int16_t stringHead[dictionarySize];
// Slots below this hold the one-character strings of root codes. An image
// overwrites the slots from its own firstFree on.
int32_t rootSlotsReady = 0;

// The line being collected. A string that runs past the end of the line is
// written whole and what lies beyond the line is moved to the front once the
// line is placed, so there is room for the widest line, the longest string
// and the unused bytes of a last 8-byte piece.
uint8_t lineBuffer[maxLineWidth + dictionarySize + 8];

// Makes the next sub-block's bytes current when the last one is used up.
// A zero count is the image's block terminator: it is left unread, so the
// caller's skip of the image data ends on it instead of eating the next block.
bool FetchSubBlock()
{
    int32_t count = NextByte();
    if (count <= 0) {
        if (count == 0)
            --source->pos;
        blockRemaining = -1;
        return false;
    }
    // As many of the count's bytes as the buffer holds; a buffer that ends
    // early leaves its position at the end, as reading them singly would.
    int32_t available = source->size - source->pos;
    int32_t taken = count < available ? count : available;
    std::memcpy(blockBuffer, source->data + source->pos, static_cast<size_t>(taken));
    source->pos += taken;
    if (taken < count) {
        blockRemaining = -1;
        return false;
    }
    blockRemaining = static_cast<int16_t>(count);
    blockReadPoint = 0;
    return true;
}

bool TakeByte()
{
    if (blockRemaining <= 0 && !FetchSubBlock())
        return false;
    currentByte = blockBuffer[blockReadPoint++];
    --blockRemaining;
    return true;
}

void RestartDictionary(int32_t minCodeSize)
{
    codeSize = static_cast<int16_t>(minCodeSize + 1);
    widthLimit = static_cast<int16_t>(1 << (minCodeSize + 1));
    nextFree = firstFree;
}

// NextCode for DecodeImage: the same bits, taken through local copies of the
// sub-block and bit state, which the compiler can keep in registers while
// bytes are stored into the line. Store writes them back.
struct CodeReader {
    const uint8_t* next;  // read point in blockBuffer
    int32_t remaining;    // blockRemaining
    uint32_t bits;        // bits not yet taken, lowest first
    int32_t count;        // how many
    uint8_t last;         // currentByte

    void Load()
    {
        next = blockBuffer + blockReadPoint;
        remaining = blockRemaining;
        count = bitsLeft;
        bits = count ? static_cast<uint32_t>(currentByte) >> (8 - count) : 0;
        last = currentByte;
    }

    void Store() const
    {
        blockReadPoint = static_cast<int32_t>(next - blockBuffer);
        blockRemaining = static_cast<int16_t>(remaining);
        bitsLeft = static_cast<int16_t>(count);
        currentByte = last;
    }

    // The next code of `width` bits, or -1 when the data ran out.
    int32_t Read(int32_t width)
    {
        while (count < width) {
            if (remaining <= 0 && !NextSubBlock())
                return -1;
            last = *next++;
            --remaining;
            bits |= static_cast<uint32_t>(last) << count;
            count += 8;
        }
        int32_t code = static_cast<int32_t>(bits & codeMask[width]);
        bits >>= width;
        count -= width;
        return code;
    }

    bool NextSubBlock()
    {
        Store();
        if (!FetchSubBlock()) {
            remaining = blockRemaining;
            return false;
        }
        next = blockBuffer;
        remaining = blockRemaining;
        return true;
    }
};

// Gives the root codes below `clear` their one-character strings where an
// earlier image with a smaller clear code used the slots for its dictionary.
void PrepareRootSlots(int32_t clear, int32_t first)
{
    for (int32_t code = rootSlotsReady; code < clear; ++code) {
        stringLength[code] = 1;
        stringTail[code] = static_cast<uint8_t>(code);
        stringHead[code] = 0;
    }
    if (rootSlotsReady < clear)
        rootSlotsReady = clear;
    if (rootSlotsReady > first)
        rootSlotsReady = first;
}

void StorePiece(uint8_t* at, uint64_t piece)
{
    std::memcpy(at, &piece, sizeof piece);
}

// Writes the string of slot `code`, `length` characters, to `out`; up to 7
// bytes behind it are overwritten too.
void WriteString(int32_t code, int32_t length, uint8_t* out)
{
    uint8_t* at = out + ((length - 1) & ~7);
    StorePiece(at, stringTail[code]);
    int32_t head = stringHead[code];
    while (at != out) {
        at -= 8;
        StorePiece(at, stringTail[head]);
        head = stringHead[head];
    }
}

// The string of `code` by the prefix walk, for a chain that may run through
// slots not filled since the last clear code: a code at or above `nextFree`
// is the previous string followed by `firstChar`. Writes it to `out` and
// returns its length, or -1 when it would overflow the stack.
int32_t WriteWalkedString(int32_t code, int32_t previousCode, int32_t firstChar,
                          int32_t nextSlot, int32_t first, uint8_t* out)
{
    int32_t top = 0;
    if (code >= nextSlot) {
        stack[top++] = static_cast<uint8_t>(firstChar);
        code = previousCode;
    }
    while (code >= first) {
        if (top == dictionarySize)
            return -1;
        stack[top++] = suffix[code];
        code = prefix[code];
    }
    if (top == dictionarySize)
        return -1;
    stack[top++] = static_cast<uint8_t>(code);
    for (int32_t i = 0; i < top; ++i)
        out[i] = stack[top - 1 - i];
    return top;
}

// Places every full line of the `filled` bytes collected and moves the rest
// to the front of the line buffer; returns how many that is.
int32_t PlaceFullLines(int32_t filled, int32_t width)
{
    const uint8_t* line = lineBuffer;
    while (filled >= width) {
        PlaceLine(line, width);
        line += width;
        filled -= width;
    }
    CopyBytes(lineBuffer, line, filled);
    return filled;
}

// New string in slot `slot`: the string of `previousCode` followed by `root`.
void AddString(int32_t slot, int32_t previousCode, int32_t root)
{
    prefix[slot] = static_cast<int16_t>(previousCode);
    suffix[slot] = static_cast<uint8_t>(root);
    int32_t length = previousCode < slot ? stringLength[previousCode] : 0;
    if (length == 0) {
        stringLength[slot] = 0;
        return;
    }
    int32_t tailLength = ((length - 1) & 7) + 1;
    if (tailLength < 8) {
        stringTail[slot] = stringTail[previousCode] |
                           static_cast<uint64_t>(static_cast<uint8_t>(root)) << (8 * tailLength);
        stringHead[slot] = stringHead[previousCode];
    } else {
        stringTail[slot] = static_cast<uint8_t>(root);
        stringHead[slot] = static_cast<int16_t>(previousCode);
    }
    stringLength[slot] = static_cast<uint16_t>(length + 1);
}

}  // namespace

void ResetCodes(int16_t minCodeSize)
{
    clearCode = static_cast<int16_t>(1 << minCodeSize);
    endCode = static_cast<int16_t>(clearCode + 1);
    firstFree = static_cast<int16_t>(clearCode + 2);
    RestartDictionary(minCodeSize);
    blockRemaining = 0;
    bitsLeft = 0;
}

int16_t NextCode()
{
    if (bitsLeft == 0) {
        if (!TakeByte())
            return -1;
        bitsLeft = 8;
    }
    uint32_t result = static_cast<uint32_t>(currentByte) >> (8 - bitsLeft);
    while (bitsLeft < codeSize) {
        if (!TakeByte())
            return -1;
        result |= static_cast<uint32_t>(currentByte) << bitsLeft;
        bitsLeft = static_cast<int16_t>(bitsLeft + 8);
    }
    bitsLeft = static_cast<int16_t>(bitsLeft - codeSize);
    return static_cast<int16_t>(result & codeMask[codeSize]);
}

int16_t DecodeImage(int32_t lineWidth)
{
    int32_t minCodeSize = NextByte();
    if (minCodeSize < 0)
        return -1;
    if (minCodeSize < 2 || minCodeSize > 9)
        return -20;
    ResetCodes(static_cast<int16_t>(minCodeSize));
    if (lineWidth < 1 || lineWidth > maxLineWidth)
        return 0;
    PrepareRootSlots(clearCode, firstFree);

    // The code state lives in locals while decoding, since every byte stored
    // into the line could otherwise alias it; it goes back to the globals
    // when decoding stops.
    const int32_t clear = clearCode;
    const int32_t end = endCode;
    const int32_t first = firstFree;
    int32_t width = codeSize;
    int32_t limit = widthLimit;
    int32_t nextSlot = nextFree;
    CodeReader reader;
    reader.Load();
    int32_t filled = 0;

    int32_t previousCode = 0;
    int32_t firstChar = 0;
    // The dictionary starts as a clear code leaves it, whether or not the
    // stream begins with one.
    bool afterClear = true;
    // Only an end code places a partial line; running out of data, or a
    // string too long for the stack, drops it.
    bool endCodeRead = false;
    for (;;) {
        int32_t code = reader.Read(width);
        if (code < 0)
            break;
        if (code == end) {
            endCodeRead = true;
            break;
        }
        if (code == clear) {
            width = minCodeSize + 1;
            limit = 1 << width;
            nextSlot = first;
            afterClear = true;
            continue;
        }
        uint8_t* out = lineBuffer + filled;
        if (afterClear) {
            // Nothing precedes this code, so it adds no string; a code with no
            // string yet is taken as character 0.
            if (code >= nextSlot)
                code = 0;
            previousCode = firstChar = code;
            afterClear = false;
            *out = static_cast<uint8_t>(code);
            if (++filled == lineWidth)
                filled = PlaceFullLines(filled, lineWidth);
            continue;
        }

        // A known code yields its string; a code the encoder made one step
        // ahead of us, the previous string followed by its first character.
        int32_t length;
        if (code < nextSlot && stringLength[code] != 0) {
            length = stringLength[code];
            WriteString(code, length, out);
        } else if (code >= nextSlot && previousCode < nextSlot && stringLength[previousCode] != 0) {
            length = stringLength[previousCode];
            WriteString(previousCode, length, out);
            out[length++] = static_cast<uint8_t>(firstChar);
        } else {
            length = WriteWalkedString(code, previousCode, firstChar, nextSlot, first, out);
            if (length < 0)
                break;
        }
        int32_t root = out[0];
        filled += length;
        if (filled >= lineWidth)
            filled = PlaceFullLines(filled, lineWidth);

        // A full dictionary takes no more strings until the next clear code.
        if (nextSlot < dictionarySize) {
            AddString(nextSlot, previousCode, root);
            ++nextSlot;
            // The code width grows as soon as the slot 2^n - 1 has been filled.
            if (nextSlot >= limit && width < largestCodeSize) {
                limit *= 2;
                ++width;
            }
            firstChar = root;
            previousCode = code;
        }
    }
    reader.Store();
    codeSize = static_cast<int16_t>(width);
    widthLimit = static_cast<int16_t>(limit);
    nextFree = static_cast<int16_t>(nextSlot);
    // End code: a line cut short is placed with the bytes it has.
    if (endCodeRead && filled > 0)
        PlaceLine(lineBuffer, filled);
    return 0;
}

void ForgetDictionary()
{
    std::memset(prefix, 0, sizeof prefix);
    std::memset(suffix, 0, sizeof suffix);
    rootSlotsReady = 0;
}

}  // namespace reference
