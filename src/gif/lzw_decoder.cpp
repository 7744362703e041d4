// Expands GIF image data, code by code, into lines for the row placement:
// the dictionary, the code reader and the decoding loop.
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

// The dictionary. A string of n characters is kept as 8-byte pieces, so
// that it is written into the line a piece at a time rather than one prefix
// step per character: its last ((n - 1) % 8) + 1 characters are the slot's
// `tail` (first of them in the low byte, zeros above), behind the string of
// the slot in the high half of `string`, the head, whose length is a
// multiple of 8 (unused when n <= 8). The low half of `string` holds n, so
// that one load gives both. Pieces are stored as 64-bit numbers and written
// low byte first, the byte order of both the player's and the host's
// processor.
// A length of 0 marks a slot without such a string: the clear and end
// codes, and a string made from a previous code that had none (only a
// malformed stream makes one), which is walked through `prefix` and `suffix`
// instead. Those two are written for every new string and for nothing else,
// since a malformed stream can walk into slots that earlier images filled;
// the pieces of root slots are rewritten as images need them.
// A slot's fields lie together, so that taking a string or adding one
// touches one cache line, from one base address.
struct Slot {
    uint64_t tail;
    uint32_t string;  // length | head << 16
    uint16_t prefix;
    uint8_t suffix;
};
Slot dictionary[dictionarySize];

int32_t StringLength(int32_t code)
{
    return static_cast<int32_t>(dictionary[code].string & 0xFFFF);
}

int32_t StringHead(int32_t code)
{
    return static_cast<int32_t>(dictionary[code].string >> 16);
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

// A code is read with one load of a machine word: 32 bits on the player's
// processor, 64 on the host's; either holds a 12-bit code at any bit offset
// within its first byte.
typedef uintptr_t BitWord;

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

// The code stream. Each sub-block is copied behind the bytes left of the one
// before, so that every code lies in one run of bytes, whichever sub-blocks
// its bits came from. A sub-block is taken (the source's position moves past
// it) the first time one of its bits is needed, never earlier, so the
// position where decoding stops is the one that byte-by-byte reading would
// leave. At most 3 bytes are left of a sub-block: those of a code's first 11
// bits; behind the bytes there is room for the last word loaded.
const int32_t largestSubBlock = 255;
uint8_t codeBytes[4 + largestSubBlock + sizeof(BitWord)];

struct CodeBits {
    int32_t position;  // of the next code's first bit in codeBytes
    int32_t end;       // bits held in codeBytes
};

// Appends the next sub-block to the code bytes, after moving those not yet
// fully read to the front. False when there is none: the data ran out, the
// source was detached, or a zero count (the image's block terminator), which
// is left unread so that the caller's skip of the image data ends on it
// instead of eating the next block.
bool TakeSubBlock(CodeBits& bits)
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
    int32_t from = bits.position >> 3;
    int32_t kept = (bits.end >> 3) - from;
    CopyBytes(codeBytes, codeBytes + from, kept);
    CopyBytes(codeBytes + kept, source->data + source->pos, count);
    source->pos += count;
    bits.position &= 7;
    bits.end = (kept + count) * 8;
    return true;
}

// The `mask`-wide code at bit `position` of the code bytes; the caller makes
// sure that they hold all of it.
inline uintptr_t CodeAt(intptr_t position, BitWord mask)
{
    BitWord word = LoadWord(codeBytes + (position >> 3));
    return (word >> (position & 7)) & mask;
}

// The next code of `width` bits, taking sub-blocks as its bits are needed;
// -1 when the data ran out.
int32_t ReadCode(CodeBits& bits, int32_t width)
{
    while (bits.position + width > bits.end) {
        if (!TakeSubBlock(bits))
            return -1;
    }
    int32_t code = static_cast<int32_t>(CodeAt(bits.position, (BitWord{1} << width) - 1));
    bits.position += width;
    return code;
}

// Gives the root codes below `clear` their one-character strings where an
// earlier image with a smaller clear code used the slots for its dictionary.
void PrepareRootSlots(int32_t clear)
{
    for (int32_t code = rootSlotsReady; code < clear; ++code) {
        dictionary[code].tail = static_cast<uint8_t>(code);
        dictionary[code].string = 1;
    }
    // The clear and end codes have no string, so that a length of 0 sends
    // them to the rare path.
    dictionary[clear].string &= ~0xFFFFu;
    dictionary[clear + 1].string &= ~0xFFFFu;
    // Above the roots, this image's own slots follow.
    rootSlotsReady = clear;
}

// Writes a string of more than 16 characters, given by its `string` word
// and last piece, to `out`, a piece at a time from its end through the
// heads; up to 7 bytes behind it are overwritten too.
__attribute__((noinline)) void WriteLongString(uint32_t string, uint64_t tail, uint8_t* out)
{
    int32_t length = static_cast<int32_t>(string & 0xFFFF);
    uint8_t* at = out + ((length - 1) & ~7);
    int32_t head = static_cast<int32_t>(string >> 16);
    StorePiece(at, tail);
    do {
        at -= 8;
        StorePiece(at, dictionary[head].tail);
        head = StringHead(head);
    } while (at != out);
}

// Writes the string of a `string` word and last piece to `out`; up to 7
// bytes behind it are overwritten too. A string of up to 16 characters, most
// of them, takes two stores and no branch on its length: the first piece
// goes to `out` (for 8 characters or fewer it is the head slot's,
// don't-care, and the second store puts the string over it).
inline void WriteString(uint32_t string, uint64_t tail, uint8_t* out)
{
    int32_t length = static_cast<int32_t>(string & 0xFFFF);
    if (length > 16) {
        WriteLongString(string, tail, out);
        return;
    }
    StorePiece(out, dictionary[string >> 16].tail);
    StorePiece(out + ((length - 1) & 8), tail);
}

// Writes the previous code's string, `length` characters, to `out` again:
// the string of a code one step ahead of the dictionary begins with it. It
// was written right in front of `out`, so it is copied from there 8 bytes at
// a time, without the chain of dependent loads that walking its pieces
// takes; flat pictures are mostly such codes, with long strings. Only when
// the line buffer has moved its rest to the front since, leaving part of the
// string behind, are the pieces walked. Up to 7 bytes behind the copy are
// overwritten too.
__attribute__((noinline)) void CopyPreviousString(uint8_t* out, int32_t length,
                                                  int32_t previousCode)
{
    if (out - lineBuffer < length) {
        WriteString(dictionary[previousCode].string, dictionary[previousCode].tail, out);
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
        stack[top++] = dictionary[code].suffix;
        code = dictionary[code].prefix;
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

// New string in slot `slot`: the string of `previousCode`, which has pieces,
// followed by `root`. Without a branch: whether the previous string's last
// piece is full follows the picture, not a pattern the processor could learn.
inline void AddString(uintptr_t slot, uintptr_t previousCode, uintptr_t root)
{
    uint32_t previous = dictionary[previousCode].string;
    uint64_t previousTail = dictionary[previousCode].tail;
    uint32_t used = previous & 7;
    uint32_t head = used != 0 ? previous >> 16 : static_cast<uint32_t>(previousCode);
    uint64_t kept = used != 0 ? previousTail : 0;
    dictionary[slot].tail = kept | static_cast<uint64_t>(root) << (used * 8);
    dictionary[slot].string = ((previous & 0xFFFF) + 1) | head << 16;
    dictionary[slot].prefix = static_cast<uint16_t>(previousCode);
    dictionary[slot].suffix = static_cast<uint8_t>(root);
}

// New string in slot `slot` built on a string without pieces: it has none
// either, and is walked through its prefix and suffix.
void AddStringWithoutPieces(int32_t slot, int32_t previousCode, int32_t root)
{
    dictionary[slot].string = 0;
    dictionary[slot].prefix = static_cast<uint16_t>(previousCode);
    dictionary[slot].suffix = static_cast<uint8_t>(root);
}

// What the strings of a picture are like, as far as the branches of the
// common loop are concerned: a branch on what nearly every code is pays,
// one that the picture does not decide costs more than it saves.
enum StringMix {
    mostlyLiterals,  // noise: one character a code
    mostlyShort,     // photographs: strings of up to 8 characters
    anyLength,       // flat and dithered pictures
};

// Why a run of codes ended.
enum CodeRunEnd { atClearCode, atEndCode, outOfData };

// Decoding state between clear codes, with the image's constants.
struct Decoding {
    CodeBits bits;
    uint8_t* out;  // where the next string goes in lineBuffer
    int32_t lineWidth;
    int32_t clear;
    int32_t first;
    int32_t width;
    int32_t nextSlot;
    int32_t previousCode;
    bool previousHasPieces;  // whether previousCode's slot holds its string
    StringMix mix;           // what the strings have been like lately
    int32_t firstChar;       // first character of previousCode's string, when it has no pieces
};

// The code just after a clear code (or at the start): nothing precedes it,
// so it adds no string, and a code with no string yet is taken as
// character 0. Returns the run's end when the code is no character.
bool DecodeFirstCode(Decoding& d, CodeRunEnd& end)
{
    for (;;) {
        int32_t code = ReadCode(d.bits, d.width);
        if (code < 0) {
            end = outOfData;
            return false;
        }
        if (code == d.clear + 1) {
            end = atEndCode;
            return false;
        }
        if (code == d.clear)
            continue;
        if (code >= d.nextSlot)
            code = 0;
        d.previousCode = code;
        d.previousHasPieces = true;
        d.firstChar = static_cast<uint8_t>(code);
        *d.out++ = static_cast<uint8_t>(code);
        if (d.out >= lineEnd)
            d.out = PlaceFullLines(d.out, d.lineWidth);
        return true;
    }
}

// Any code after the first: a known one yields its string; one the encoder
// made one step ahead of us (or, malformed, further ahead), the previous
// string followed by its first character. False, with the reason, when the
// run of codes ends.
__attribute__((noinline)) bool DecodeAnyCode(Decoding& d, CodeRunEnd& end)
{
    int32_t code = ReadCode(d.bits, d.width);
    if (code < 0) {
        end = outOfData;
        return false;
    }
    bool hasPieces = true;
    int32_t length;
    int32_t root;
    if (code < d.nextSlot && StringLength(code) != 0) {
        length = StringLength(code);
        WriteString(dictionary[code].string, dictionary[code].tail, d.out);
        root = d.out[0];
    } else if (code >= d.nextSlot && d.previousHasPieces) {
        length = StringLength(d.previousCode);
        CopyPreviousString(d.out, length, d.previousCode);
        root = d.out[0];
        d.out[length++] = static_cast<uint8_t>(root);
        hasPieces = code == d.nextSlot;
    } else if (code == d.clear) {
        end = atClearCode;
        return false;
    } else if (code == d.clear + 1) {
        end = atEndCode;
        return false;
    } else {
        length = WriteWalkedString(code, d.previousCode, d.firstChar, d.nextSlot, d.first, d.out);
        if (length < 0) {
            end = outOfData;
            return false;
        }
        root = d.out[0];
        hasPieces = false;
    }
    d.out += length;
    // A full dictionary takes no more strings until the next clear code.
    if (d.nextSlot < dictionarySize) {
        if (d.previousHasPieces)
            AddString(static_cast<uintptr_t>(d.nextSlot), static_cast<uintptr_t>(d.previousCode),
                      static_cast<uintptr_t>(root));
        else
            AddStringWithoutPieces(d.nextSlot, d.previousCode, root);
        ++d.nextSlot;
        d.previousCode = code;
        d.previousHasPieces = hasPieces;
        d.firstChar = root;
    }
    return true;
}

// Codes as most pictures are made of, taken with the state in registers:
// strings in the dictionary, and (with `growing`, while the dictionary takes
// new strings) codes one step ahead of it. Takes only codes whose bits are
// all held, and at most as many as there are slots before the code width
// grows. Stops after a code that reaches the end of the line, and before a
// code it leaves to DecodeAnyCode, returning true then: a code without a
// string (the clear and end codes among them), one further ahead, any code
// after a string without pieces, or one whose bits are not all held. The
// rare paths are written out here rather than called, since a call would
// take the loop's registers.
template <bool growing, StringMix mix>
__attribute__((noinline)) bool DecodeCommonCodes(Decoding& d)
{
    if (growing && !d.previousHasPieces)
        return true;
    const intptr_t width = d.width;
    const BitWord mask = (BitWord{1} << width) - 1;
    const intptr_t firstPosition = d.bits.position;
    intptr_t codes = (d.bits.end - firstPosition) / width;
    uintptr_t nextSlot = static_cast<uintptr_t>(d.nextSlot);
    if (growing) {
        intptr_t slotsLeft = (intptr_t{1} << width) - d.nextSlot;
        if (codes > slotsLeft)
            codes = slotsLeft;
    }
    const intptr_t lastPosition = firstPosition + (codes - 1) * width;
    intptr_t position = firstPosition;
    uint8_t* out = d.out;
    uint8_t* const end = lineEnd;
    uintptr_t previousCode = static_cast<uintptr_t>(d.previousCode);
    const uintptr_t clear = static_cast<uintptr_t>(d.clear);
    bool blocked = false;
    for (; position <= lastPosition; position += width) {
        uintptr_t code = CodeAt(position, mask);
        // Both below the clear code, a power of two: a literal after a
        // literal, whose new string is the two characters.
        if (mix == mostlyLiterals && (code | previousCode) < clear) {
            uint8_t character = static_cast<uint8_t>(code);
            *out++ = character;
            dictionary[nextSlot].tail =
                static_cast<uint8_t>(previousCode) | static_cast<uint64_t>(character) << 8;
            dictionary[nextSlot].string = 2;
            dictionary[nextSlot].prefix = static_cast<uint16_t>(previousCode);
            dictionary[nextSlot].suffix = character;
            ++nextSlot;
            previousCode = code;
            if (out >= end) {
                position += width;
                break;
            }
            continue;
        }
        uintptr_t length;
        uintptr_t root;
        if (code < nextSlot) {
            uint32_t string = dictionary[code].string;
            uint64_t tail = dictionary[code].tail;
            length = string & 0xFFFF;
            if (mix != anyLength && length - 1 < 8) {
                // One piece: a branch on it pays only where nearly all
                // strings are this short.
                StorePiece(out, tail);
                root = static_cast<uint8_t>(tail);
            } else if (length - 1 < 16) {
                // Two stores, as WriteString does.
                uint64_t headPiece = dictionary[string >> 16].tail;
                StorePiece(out, headPiece);
                StorePiece(out + ((length - 1) & 8), tail);
                root = static_cast<uint8_t>(length > 8 ? headPiece : tail);
            } else if (length != 0) {
                // Piece by piece from the end, through the heads.
                uint8_t* at = out + ((length - 1) & ~uintptr_t{7});
                uintptr_t head = string >> 16;
                StorePiece(at, tail);
                do {
                    at -= 8;
                    StorePiece(at, dictionary[head].tail);
                    head = dictionary[head].string >> 16;
                } while (at != out);
                root = out[0];
            } else {
                blocked = true;
                break;
            }
        } else {
            // One step ahead: the previous string, which lies right in front
            // unless the line buffer has moved it, and its first character.
            length = dictionary[previousCode].string & 0xFFFF;
            if (!growing || code != nextSlot || out - lineBuffer < static_cast<ptrdiff_t>(length)) {
                blocked = true;
                break;
            }
            const uint8_t* from = out - length;
            root = from[0];
            for (uintptr_t i = 0; i < length; i += 8) {
                uint64_t piece;
                std::memcpy(&piece, from + i, sizeof piece);
                StorePiece(out + i, piece);
            }
            out[length++] = static_cast<uint8_t>(root);
        }
        out += length;
        if (growing) {
            AddString(nextSlot++, previousCode, root);
            previousCode = code;
        }
        if (out >= end) {
            position += width;
            break;
        }
    }
    uintptr_t taken = nextSlot - static_cast<uintptr_t>(d.nextSlot);
    if (growing && taken >= 32) {
        uintptr_t written = static_cast<uintptr_t>(out - d.out);
        d.mix = written < taken + taken / 8 ? mostlyLiterals
                : written < 6 * taken       ? mostlyShort
                                            : anyLength;
    }
    d.bits.position = static_cast<int32_t>(position);
    d.out = out;
    d.nextSlot = static_cast<int32_t>(nextSlot);
    d.previousCode = static_cast<int32_t>(previousCode);
    // Without a code taken, the next is left to DecodeAnyCode all the same,
    // so that decoding always moves on.
    return blocked || position == firstPosition;
}

// After each code: the full lines are placed, and the code width grows as
// soon as the slot 2^n - 1 has been filled, up to 12 bits.
void FinishCode(Decoding& d)
{
    if (d.out >= lineEnd)
        d.out = PlaceFullLines(d.out, d.lineWidth);
    if (d.nextSlot == 1 << d.width && d.width < largestCodeSize)
        ++d.width;
}

// Every other code until a clear code, the end code or the end of the data.
CodeRunEnd DecodeCodes(Decoding& d)
{
    for (;;) {
        bool blocked;
        if (d.nextSlot == dictionarySize)
            blocked = DecodeCommonCodes<false, anyLength>(d);
        else if (d.mix == mostlyLiterals)
            blocked = DecodeCommonCodes<true, mostlyLiterals>(d);
        else if (d.mix == mostlyShort)
            blocked = DecodeCommonCodes<true, mostlyShort>(d);
        else
            blocked = DecodeCommonCodes<true, anyLength>(d);
        if (!blocked) {
            FinishCode(d);
            if (d.bits.position + d.width <= d.bits.end)
                continue;
        }
        CodeRunEnd end;
        if (!DecodeAnyCode(d, end))
            return end;
        FinishCode(d);
    }
}

}  // namespace

// Puts the dictionary back as a fresh process has it. Only tests and fuzz
// targets call it, through their own declaration (tests/support/lzw_seam.h),
// so it is declared here rather than in the decoder's interface; the
// player's link drops it.
void ForgetDictionary();
void ForgetDictionary()
{
    for (Slot& slot : dictionary) {
        slot = Slot();
        // Keeps the compiler from making the loop a call to memset: the
        // player would import it for this function, which its link drops.
        asm volatile("" ::: "memory");
    }
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

void AttachImage(MemoryBuffer& buffer, IndexedBitmap& bitmap, int32_t interlacedRows)
{
    source = &buffer;
    target = &bitmap;
    row = 0;
    interlaced = interlacedRows;
}

int32_t DetachImage()
{
    source = nullptr;
    target = nullptr;
    return row;
}

int16_t DecodeImage(int32_t lineWidth)
{
    int32_t minCodeSize = NextByte();
    if (minCodeSize < 0)
        return codeSizeMissing;
    if (minCodeSize < 2 || minCodeSize > 9)
        return codeSizeOutOfRange;
    ResetCodes(static_cast<int16_t>(minCodeSize));
    if (lineWidth < 1 || lineWidth > maxLineWidth)
        return decodingEnded;
    PrepareRootSlots(clearCode);

    Decoding d = {};
    lineStart = lineBuffer;
    lineEnd = lineBuffer + lineWidth;
    d.out = lineBuffer;
    d.lineWidth = lineWidth;
    d.clear = clearCode;
    d.first = firstFree;
    d.mix = mostlyShort;
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
    return decodingEnded;
}
