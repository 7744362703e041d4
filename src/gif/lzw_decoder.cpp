#include "gif/lzw_decoder.h"

#include "gif/row_placement.h"

MemoryBuffer* source = nullptr;

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

// A string's characters, pushed last first. No well-formed string is longer
// than the dictionary, so a walk that would overflow it is malformed.
uint8_t stack[dictionarySize];
int32_t stackTop = 0;

// The line being collected; process-wide because a GIF line can be 64 KB.
uint8_t lineBuffer[maxLineWidth];
int32_t lineLength = 0;
int32_t lineFilled = 0;

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
    for (int32_t i = 0; i < count; ++i) {
        int32_t value = NextByte();
        if (value < 0) {
            blockRemaining = -1;
            return false;
        }
        blockBuffer[i] = static_cast<uint8_t>(value);
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

void StartLines(int32_t width)
{
    lineLength = width;
    lineFilled = 0;
    stackTop = 0;
}

void AppendToLine(uint8_t pixel)
{
    lineBuffer[lineFilled++] = pixel;
    if (lineFilled == lineLength) {
        PlaceLine(lineBuffer, lineLength);
        lineFilled = 0;
    }
}

bool Push(int32_t character)
{
    if (stackTop == dictionarySize)
        return false;
    stack[stackTop++] = static_cast<uint8_t>(character);
    return true;
}

// Pushes the string of `code` and sets `root` to its first character (a code
// below clearCode for a well-formed stream). False when the walk would
// overflow the stack, which only a malformed stream causes.
bool PushString(int16_t code, int16_t previousCode, int16_t firstChar, int16_t& root)
{
    if (code >= nextFree) {
        // The encoder made this string one step ahead of us: it can only be
        // the previous string followed by that string's own first character.
        if (!Push(firstChar))
            return false;
        code = previousCode;
    }
    while (code >= firstFree) {
        if (!Push(suffix[code]))
            return false;
        code = prefix[code];
    }
    if (!Push(code))
        return false;
    root = code;
    return true;
}

void PopStackIntoLine()
{
    while (stackTop > 0)
        AppendToLine(stack[--stackTop]);
}

void RestartDictionary(int32_t minCodeSize)
{
    codeSize = static_cast<int16_t>(minCodeSize + 1);
    widthLimit = static_cast<int16_t>(1 << (minCodeSize + 1));
    nextFree = firstFree;
}

// New string: the previous one followed by the first character of this one.
void AddString(int16_t previousCode, int16_t root)
{
    prefix[nextFree] = previousCode;
    suffix[nextFree] = static_cast<uint8_t>(root);
    ++nextFree;
    // The code width grows as soon as the slot 2^n - 1 has been filled.
    if (nextFree >= widthLimit && codeSize < largestCodeSize) {
        widthLimit = static_cast<int16_t>(widthLimit * 2);
        ++codeSize;
    }
}

}  // namespace

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
    StartLines(lineWidth);

    int16_t previousCode = 0;
    int16_t firstChar = 0;
    // The dictionary starts as a clear code leaves it, whether or not the
    // stream begins with one.
    bool afterClear = true;
    for (;;) {
        int16_t code = NextCode();
        if (code < 0)
            return 0;
        if (code == endCode)
            break;
        if (code == clearCode) {
            RestartDictionary(minCodeSize);
            afterClear = true;
            continue;
        }
        if (afterClear) {
            // Nothing precedes this code, so it adds no string; a code with no
            // string yet is taken as character 0.
            if (code >= nextFree)
                code = 0;
            previousCode = firstChar = code;
            afterClear = false;
            AppendToLine(static_cast<uint8_t>(code));
            continue;
        }
        int16_t root = 0;
        if (!PushString(code, previousCode, firstChar, root))
            return 0;
        // A full dictionary takes no more strings until the next clear code.
        if (nextFree < dictionarySize) {
            AddString(previousCode, root);
            firstChar = root;
            previousCode = code;
        }
        PopStackIntoLine();
    }
    // End code: a line cut short is placed with the bytes it has.
    if (lineFilled > 0)
        PlaceLine(lineBuffer, lineFilled);
    return 0;
}
