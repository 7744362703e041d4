// The player is built for size, but every frame passes through this loop
// before the window opens: GCC compiles this file for speed.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O2")
#endif
#include "gif/lzw_decoder.h"

#include <cstddef>
#include <cstring>

#include "gif/row_placement.h"

MemoryBuffer* source = nullptr;

int16_t codeSize = 0;
int16_t clearCode = 0;
int16_t endCode = 0;
int16_t firstFree = 0;
int16_t nextFree = 0;
int16_t widthLimit = 0;

namespace {

const int32_t largestCodeSize = 12;

// The dictionary, one entry per slot in separate arrays, so that walking a
// long string touches only `strings` and the pieces. A string of n
// characters is kept as 8-byte pieces, so that it is written into the line
// a piece at a time rather than one prefix step per character: its last
// ((n - 1) % 8) + 1 characters are in `tails` (first of them in the low
// byte; the bytes above are don't-care), behind the string of the slot in
// the high half of `strings`, the head, whose length is a multiple of 8
// (unused when n <= 8). The low half of `strings` holds n, so that one load
// gives both. Pieces are stored as 64-bit numbers and written low byte
// first, the byte order of both the player's and the host's processor.
// A length of 0 marks a slot without such a string: the clear and end
// codes, and a string made from a previous code that had none (only a
// malformed stream makes one), which is walked through `prefixes` and
// `suffixes` instead. Those two are written for every new string and for
// nothing else, since a malformed stream can walk into slots that earlier
// images filled; the pieces of root slots are rewritten as images need them.
// One record, so that the loop reaches every array from one base address
// (position-independent host code would otherwise keep one per array).
struct Dictionary {
    uint64_t tails[dictionarySize];
    uint32_t strings[dictionarySize];  // length | head << 16
    uint16_t prefixes[dictionarySize];
    uint8_t suffixes[dictionarySize];
};
Dictionary dictionary;

int32_t StringLength(int32_t code)
{
    return static_cast<int32_t>(dictionary.strings[code] & 0xFFFF);
}

int32_t StringHead(int32_t code)
{
    return static_cast<int32_t>(dictionary.strings[code] >> 16);
}

// Slots below this hold the one-character strings of root codes. An image
// overwrites the slots from its own clear code on.
int32_t rootSlotsReady = 0;

// Strings whose prefix chain cannot be trusted are walked onto this stack,
// last character first. No well-formed string is longer than the
// dictionary, so a walk that would overflow it is malformed.
uint8_t stack[dictionarySize];

// The lines being collected. A string that runs past the end of the line is
// written whole, and the next line starts right behind the placed one, so
// that what a string wrote beyond a line need not move. Only when the next
// line could end past the first maxLineWidth bytes does the rest move to the
// front; so there is always room behind a line for the longest string and
// the unused bytes of a last 8-byte piece.
uint8_t lineBuffer[maxLineWidth + dictionarySize + 8];
uint8_t* lineStart = lineBuffer;  // of the line being collected
uint8_t* lineEnd = lineBuffer;    // and its end

// Bits are gathered a machine word at a time: 32 bits on the player's
// processor, 64 on the host's.
typedef uintptr_t BitWord;
const int32_t wordBits = static_cast<int32_t>(sizeof(BitWord)) * 8;

BitWord LoadWord(const uint8_t* at)
{
    BitWord word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

void StorePiece(uint8_t* at, uint64_t piece)
{
    std::memcpy(at, &piece, sizeof piece);
}

// The code stream, read straight from the source's bytes one sub-block at a
// time. A sub-block is taken whole (the source's position moves past it) the
// first time one of its bits is needed, never earlier, so the position where
// decoding stops is the one that byte-by-byte reading would leave.
struct BitReader {
    const uint8_t* next;      // next unread byte of the current sub-block
    const uint8_t* blockEnd;  // end of the current sub-block
    BitWord bits;             // bits not yet taken, lowest first
    int32_t count;            // how many
};

// Makes the next sub-block current. False when there is none: the data ran
// out, the source was detached, or a zero count (the image's block
// terminator), which is left unread so that the caller's skip of the image
// data ends on it instead of eating the next block.
bool TakeSubBlock(BitReader& reader)
{
    int32_t count = NextByte();
    if (count <= 0) {
        if (count == 0)
            --source->pos;
        return false;
    }
    // A sub-block cut short by the end of the buffer is not used; the
    // position goes to the end, as reading its bytes singly would leave it.
    int32_t available = source->size - source->pos;
    if (count > available) {
        source->pos = source->size;
        return false;
    }
    reader.next = source->data + source->pos;
    reader.blockEnd = reader.next + count;
    source->pos += count;
    return true;
}

// Takes bytes one at a time until `width` bits are held, crossing into
// further sub-blocks as needed. Fewer bits than `width` in the result means
// the data ran out.
__attribute__((noinline)) BitReader FillAcrossSubBlocks(BitReader reader, int32_t width)
{
    while (reader.count < width) {
        if (reader.next == reader.blockEnd && !TakeSubBlock(reader))
            return reader;
        reader.bits |= static_cast<BitWord>(*reader.next++) << reader.count;
        reader.count += 8;
    }
    return reader;
}

// At least `width` bits in `bits`; false when the data ran out. Inside a
// sub-block a whole word is loaded and as many of its bytes taken as fit.
// The reader's fields are passed one by one so that the hot loop can keep
// them in registers; only the slow path goes through memory.
inline bool Fill(const uint8_t*& next, const uint8_t*& blockEnd, BitWord& bits, int32_t& count,
                 int32_t width)
{
    if (count >= width)
        return true;
    if (blockEnd - next >= static_cast<ptrdiff_t>(sizeof(BitWord))) {
        bits |= LoadWord(next) << count;
        next += (wordBits - 1 - count) >> 3;
        count |= wordBits - 8;
        return true;
    }
    BitReader reader = {next, blockEnd, bits, count};
    reader = FillAcrossSubBlocks(reader, width);
    next = reader.next;
    blockEnd = reader.blockEnd;
    bits = reader.bits;
    count = reader.count;
    return count >= width;
}

inline int32_t TakeCode(BitWord& bits, int32_t& count, int32_t width)
{
    int32_t code = static_cast<int32_t>(bits & ((BitWord{1} << width) - 1));
    bits >>= width;
    count -= width;
    return code;
}

// Gives the root codes below `clear` their one-character strings where an
// earlier image with a smaller clear code used the slots for its dictionary.
void PrepareRootSlots(int32_t clear)
{
    for (int32_t code = rootSlotsReady; code < clear; ++code) {
        dictionary.tails[code] = static_cast<uint8_t>(code);
        dictionary.strings[code] = 1;
    }
    // The clear and end codes have no string, so that a length of 0 sends
    // them to the rare path.
    dictionary.strings[clear] &= ~0xFFFFu;
    dictionary.strings[clear + 1] &= ~0xFFFFu;
    // Above the roots, this image's own slots follow.
    rootSlotsReady = clear;
}

// Writes the string of slot `code`, `length` characters, to `out`; up to 7
// bytes behind it are overwritten too. A string of up to 16 characters, most
// of them, takes two stores and no branch on its length: the first piece goes
// to `out` (for 8 characters or fewer it is the head slot's, don't-care, and
// the second store puts the string over it).
inline void WriteString(int32_t code, int32_t length, uint8_t* out)
{
    uint8_t* at = out + ((length - 1) & ~7);
    int32_t head = StringHead(code);
    if (length > 16) {
        StorePiece(at, dictionary.tails[code]);
        do {
            at -= 8;
            StorePiece(at, dictionary.tails[head]);
            head = StringHead(head);
        } while (at != out);
        return;
    }
    StorePiece(out, dictionary.tails[head]);
    StorePiece(at, dictionary.tails[code]);
}

// Writes the previous code's string, `length` characters, to `out` again:
// the string of a code one step ahead of the dictionary begins with it. It
// was written right in front of `out`, so it is copied from there 8 bytes at
// a time, without the chain of dependent loads that walking its pieces
// takes; flat pictures are mostly such codes, with long strings. Only when
// the line buffer has moved its rest to the front since, leaving part of the
// string behind, are the pieces walked. Up to 7 bytes behind the copy are
// overwritten too. Out of line, like the other rare paths: inlined, its loop
// takes registers from the main loop, which then runs slower on every
// picture.
__attribute__((noinline)) void CopyPreviousString(uint8_t* out, int32_t length,
                                                  int32_t previousCode)
{
    if (out - lineBuffer < length) {
        WriteString(previousCode, length, out);
        return;
    }
    const uint8_t* from = out - length;
    for (int32_t i = 0; i < length; i += 8) {
        uint64_t piece;
        std::memcpy(&piece, from + i, sizeof piece);
        StorePiece(out + i, piece);
    }
}

// The string of `code` by the prefix walk, for a chain that may run through
// slots not filled since the last clear code: a code at or above `nextSlot`
// is the previous string followed by `firstChar`. Writes it to `out` and
// returns its length, or -1 when it would overflow the stack. Out of line,
// as only a malformed stream needs it.
__attribute__((noinline)) int32_t WriteWalkedString(int32_t code, int32_t previousCode,
                                                    int32_t firstChar, int32_t nextSlot,
                                                    int32_t first, uint8_t* out)
{
    int32_t top = 0;
    if (code >= nextSlot) {
        stack[top++] = static_cast<uint8_t>(firstChar);
        code = previousCode;
    }
    while (code >= first) {
        if (top == dictionarySize)
            return -1;
        stack[top++] = dictionary.suffixes[code];
        code = dictionary.prefixes[code];
    }
    if (top == dictionarySize)
        return -1;
    stack[top++] = static_cast<uint8_t>(code);
    for (int32_t i = 0; i < top; ++i)
        out[i] = stack[top - 1 - i];
    return top;
}

// Places every full line of the bytes collected up to `end`; returns where
// collecting goes on, with lineStart at the line it fills.
__attribute__((noinline)) uint8_t* PlaceFullLines(uint8_t* end, int32_t width)
{
    uint8_t* line = lineStart;
    while (end - line >= width) {
        PlaceLine(line, width);
        line += width;
    }
    lineStart = line;
    lineEnd = line + width;
    if (lineEnd <= lineBuffer + maxLineWidth)
        return end;
    int32_t rest = static_cast<int32_t>(end - line);
    CopyBytes(lineBuffer, line, rest);
    lineStart = lineBuffer;
    lineEnd = lineBuffer + width;
    return lineBuffer + rest;
}

// New string in slot `slot`: the string of `previousCode` (`previousLength`
// characters, 0 when it has none to build on) followed by `root`.
inline void AddString(int32_t slot, int32_t previousCode, int32_t previousLength, int32_t root)
{
    dictionary.prefixes[slot] = static_cast<uint16_t>(previousCode);
    dictionary.suffixes[slot] = static_cast<uint8_t>(root);
    // A string built on one without pieces has none either; its pieces are
    // written all the same, since nothing reads them past a length of 0.
    int32_t length = previousLength != 0 ? previousLength + 1 : 0;
    // Without a branch: whether the previous string's last piece is full
    // follows the picture, not a pattern the processor could learn. When it
    // is full, the copied piece's bytes above the first are don't-care.
    int32_t used = previousLength & 7;
    dictionary.tails[slot] = dictionary.tails[previousCode];
    reinterpret_cast<uint8_t*>(&dictionary.tails[slot])[used] = static_cast<uint8_t>(root);
    int32_t head = used != 0 ? StringHead(previousCode) : previousCode;
    dictionary.strings[slot] = static_cast<uint32_t>(length) | static_cast<uint32_t>(head) << 16;
}

// The code width grows as soon as the slot 2^n - 1 has been filled, that is
// when `nextSlot` (never above 2^width) reaches 2^width, up to 12 bits.
inline void Widen(int32_t& width, int32_t nextSlot)
{
    if (width < largestCodeSize)
        width += 1 & (nextSlot >> width);
}

// Why a run of codes ended.
enum CodeRunEnd { atClearCode, atEndCode, outOfData };

// Decoding state between clear codes, with the image's constants.
struct Decoding {
    BitReader reader;
    uint8_t* out;  // where the next string goes in lineBuffer
    int32_t lineWidth;
    int32_t clear;
    int32_t first;
    int32_t width;
    int32_t nextSlot;
    int32_t previousCode;
    int32_t previousLength;  // of previousCode's string; 0 when it has none to build on
    int32_t firstChar;       // first character of previousCode's string
};

// The code just after a clear code (or at the start): nothing precedes it,
// so it adds no string, and a code with no string yet is taken as
// character 0. Returns the run's end when the code is no character.
bool DecodeFirstCode(Decoding& d, CodeRunEnd& end)
{
    for (;;) {
        BitReader& r = d.reader;
        if (!Fill(r.next, r.blockEnd, r.bits, r.count, d.width)) {
            end = outOfData;
            return false;
        }
        int32_t code = TakeCode(r.bits, r.count, d.width);
        if (code == d.clear + 1) {
            end = atEndCode;
            return false;
        }
        if (code == d.clear)
            continue;
        if (code >= d.nextSlot)
            code = 0;
        d.previousCode = code;
        d.firstChar = static_cast<uint8_t>(code);
        d.previousLength = 1;
        *d.out++ = static_cast<uint8_t>(code);
        if (d.out >= lineEnd)
            d.out = PlaceFullLines(d.out, d.lineWidth);
        return true;
    }
}

// Every other code until a clear code, the end code or the end of the data.
// The state lives in locals meanwhile, since every byte stored into the line
// could otherwise alias it.
CodeRunEnd DecodeCodes(Decoding& d)
{
    const uint8_t* next = d.reader.next;
    const uint8_t* blockEnd = d.reader.blockEnd;
    BitWord bits = d.reader.bits;
    int32_t count = d.reader.count;
    uint8_t* out = d.out;
    const int32_t clear = d.clear;
    const int32_t first = d.first;
    int32_t width = d.width;
    int32_t nextSlot = d.nextSlot;
    int32_t previousCode = d.previousCode;
    int32_t previousLength = d.previousLength;
    int32_t firstChar = d.firstChar;
    CodeRunEnd end = outOfData;

    for (;;) {
        if (!Fill(next, blockEnd, bits, count, width))
            break;
        int32_t code = TakeCode(bits, count, width);

        // Literals take the same path as other known codes (a string of
        // length 1): a separate branch for them mispredicts on every picture
        // that mixes the two, and cost more than it saved.
        // A known code yields its string; a code the encoder made one step
        // ahead of us (or, malformed, further ahead), the previous string
        // followed by its first character.
        int32_t stringCode = code;
        int32_t length;
        if (code < nextSlot) {
            length = StringLength(code);
        } else {
            stringCode = previousCode;
            length = previousLength;
        }
        int32_t nextPreviousLength;  // of this code's string, for the next code
        if (length != 0) {
            nextPreviousLength = length;
            if (code < nextSlot) {
                WriteString(stringCode, length, out);
            } else {
                CopyPreviousString(out, length, stringCode);
                out[length++] = static_cast<uint8_t>(firstChar);
                nextPreviousLength = code == nextSlot ? length : 0;
            }
        } else if (code == clear) {
            end = atClearCode;
            break;
        } else if (code == clear + 1) {
            end = atEndCode;
            break;
        } else {
            length = WriteWalkedString(code, previousCode, firstChar, nextSlot, first, out);
            if (length < 0)
                break;
            nextPreviousLength = 0;
        }
        int32_t root = out[0];
        out += length;
        if (out >= lineEnd)
            out = PlaceFullLines(out, d.lineWidth);

        // A full dictionary takes no more strings until the next clear code.
        if (nextSlot < dictionarySize) {
            AddString(nextSlot, previousCode, previousLength, root);
            Widen(width, ++nextSlot);
            firstChar = root;
            previousCode = code;
            previousLength = nextPreviousLength;
        }
    }
    d.reader.next = next;
    d.reader.blockEnd = blockEnd;
    d.reader.bits = bits;
    d.reader.count = count;
    d.out = out;
    d.width = width;
    d.nextSlot = nextSlot;
    return end;
}

}  // namespace

void ForgetDictionary()
{
    std::memset(&dictionary, 0, sizeof dictionary);
    rootSlotsReady = 0;
}

int32_t NextByte()
{
    if (!source || !source->data || source->pos < 0 || source->pos >= source->size)
        return -1;
    return source->data[source->pos++];
}

void ResetCodes(int16_t minCodeSize)
{
    clearCode = static_cast<int16_t>(1 << minCodeSize);
    endCode = static_cast<int16_t>(clearCode + 1);
    firstFree = static_cast<int16_t>(clearCode + 2);
    codeSize = static_cast<int16_t>(minCodeSize + 1);
    widthLimit = static_cast<int16_t>(1 << (minCodeSize + 1));
    nextFree = firstFree;
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
    PrepareRootSlots(clearCode);

    Decoding d = {};
    lineStart = lineBuffer;
    lineEnd = lineBuffer + lineWidth;
    d.out = lineBuffer;
    d.lineWidth = lineWidth;
    d.clear = clearCode;
    d.first = firstFree;
    // The dictionary starts as a clear code leaves it, whether or not the
    // stream begins with one.
    CodeRunEnd end = atClearCode;
    while (end == atClearCode) {
        d.width = minCodeSize + 1;
        d.nextSlot = d.first;
        if (DecodeFirstCode(d, end))
            end = DecodeCodes(d);
    }
    codeSize = static_cast<int16_t>(d.width);
    widthLimit = static_cast<int16_t>(1 << d.width);
    nextFree = static_cast<int16_t>(d.nextSlot);
    // Only an end code places a partial line; running out of data, or a
    // string too long for the stack, drops it.
    if (end == atEndCode && d.out > lineStart)
        PlaceLine(lineStart, static_cast<int32_t>(d.out - lineStart));
    return 0;
}
