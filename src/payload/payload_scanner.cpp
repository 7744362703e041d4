#include "payload/payload_scanner.h"

#include <cstring>

char scanBuffer[scanBufferSize];
char (&modulePath)[scanBufferSize] = scanBuffer;

HANDLE selfFile;
const char* scanCursor;
int32_t scanAvailable;
int32_t scanConsumed;

const char gifMarker[] = "---GIF_BEGINS_HERE";
const char waveMarker[] = "---WAVE_BEGINS_HERE";
const char midiMarker[] = "---MIDI_BEGINS_HERE";

namespace {

const int markerPrefixLength = 3;

// True when the next bytes are the tag followed by ':'. Stops at the first
// byte that differs; that byte is consumed, so the search resumes after it.
bool NextBytesAreTagAndColon(const char* tag)
{
    for (const char* expected = tag; *expected; ++expected) {
        if (NextScanByte() != static_cast<uint8_t>(*expected))
            return false;
    }
    return NextScanByte() == ':';
}

uint32_t LoadWord(const char* at)
{
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Nonzero when some byte of `word` is '*': such a byte turns to zero after
// the exclusive or, and (v - 0x01010101) & ~v & 0x80808080 is nonzero
// exactly when some byte of v is zero.
uint32_t HasStar(uint32_t word)
{
    uint32_t v = word ^ 0x2A2A2A2Au;
    return (v - 0x01010101u) & ~v & 0x80808080u;
}

// The first '*' among `count` bytes from `from`, or null. Sixteen bytes are
// tested at a time; the block that holds a '*' is then looked at bytewise.
const char* FindStar(const char* from, int32_t count)
{
    const char* end = from + count;
    const char* at = from;
    for (; end - at >= 16; at += 16) {
        if (HasStar(LoadWord(at)) | HasStar(LoadWord(at + 4)) | HasStar(LoadWord(at + 8)) |
            HasStar(LoadWord(at + 12)))
            break;
    }
    for (; at < end; ++at) {
        if (*at == '*')
            return at;
    }
    return nullptr;
}

// Consumes bytes up to and including the next '*', as taking them one by
// one with NextScanByte would, but looks through each buffer load at once.
// False at end of file.
bool SkipPastStar()
{
    for (;;) {
        if (scanAvailable == 0) {
            int byte = NextScanByte();
            if (byte < 0)
                return false;
            if (byte == '*')
                return true;
        }
        const char* star = FindStar(scanCursor, scanAvailable);
        int32_t taken = star ? static_cast<int32_t>(star - scanCursor) + 1 : scanAvailable;
        scanCursor += taken;
        scanAvailable -= taken;
        scanConsumed += taken;
        if (star)
            return true;
    }
}

// Reads bytes until '*', tag and ':' have gone by. False at end of file.
bool SkipToPayloadLength(const char* tag)
{
    for (;;) {
        if (!SkipPastStar())
            return false;
        if (NextBytesAreTagAndColon(tag))
            return true;
    }
}

bool OpenSelfFile(const char* fileName)
{
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    selfFile = file;
    return true;
}

}  // namespace

int32_t FindPayloadSection(const char* fileName, const char* marker)
{
    // Only one handle on the file at a time, even when a caller forgot to close.
    CloseSelfFile();
    scanConsumed = 0;
    scanAvailable = 0;
    if (!OpenSelfFile(fileName))
        return 0;
    if (!SkipToPayloadLength(marker + markerPrefixLength))
        return 0;

    // The block reads carried the file position past the length field;
    // scanConsumed is the offset of the byte right after ':'.
    SetFilePointer(selfFile, scanConsumed, nullptr, FILE_BEGIN);
    uint8_t length[4];
    DWORD delivered = 0;
    if (!ReadFile(selfFile, length, sizeof length, &delivered, nullptr) || delivered != sizeof length)
        return -1;
    return static_cast<int32_t>(length[0] | length[1] << 8 | length[2] << 16 |
                                static_cast<uint32_t>(length[3]) << 24);
}

int NextScanByte()
{
    if (scanAvailable == 0) {
        DWORD delivered = 0;
        if (!ReadFile(selfFile, scanBuffer, scanBufferSize, &delivered, nullptr))
            return -1;
        scanAvailable = static_cast<int32_t>(delivered);
        if (scanAvailable < 1)
            return -1;
        scanCursor = scanBuffer;
    }
    ++scanConsumed;
    --scanAvailable;
    return static_cast<uint8_t>(*scanCursor++);
}

bool ReadPayload(MemoryBuffer& buffer)
{
    if (!buffer.data || buffer.size < 0)
        return false;
    DWORD delivered = 0;
    BOOL read = ReadFile(selfFile, buffer.data, static_cast<DWORD>(buffer.size), &delivered, nullptr);
    return read && delivered == static_cast<DWORD>(buffer.size);
}

void CloseSelfFile()
{
    if (selfFile)
        CloseHandle(selfFile);
    selfFile = 0;
}
