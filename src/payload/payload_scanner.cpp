#include "payload/payload_scanner.h"

#include <cpuid.h>
#include <cstring>
#include <emmintrin.h>

char scanBuffer[scanBufferSize];
char (&modulePath)[scanBufferSize] = scanBuffer;

HANDLE selfFile;
const char* scanCursor;  // next byte of scanBuffer to hand out
int32_t scanAvailable;
int64_t scanConsumed;

namespace {

bool ProcessorHasSse2()
{
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2);
}

}  // namespace

// Asked once: under a hypervisor the cpuid instruction traps, and a search
// looks for the next '*' many thousand times.
bool scanWithSse2 = ProcessorHasSse2();

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

const char* FindStarBytewise(const char* at, const char* end)
{
    for (; at < end; ++at) {
        if (*at == '*')
            return at;
    }
    return nullptr;
}

// Sixteen bytes per step in four words; the step that holds a '*' is then
// looked at bytewise.
const char* FindStarByWords(const char* at, const char* end)
{
    for (; end - at >= 16; at += 16) {
        if (HasStar(LoadWord(at)) | HasStar(LoadWord(at + 4)) | HasStar(LoadWord(at + 8)) |
            HasStar(LoadWord(at + 12)))
            break;
    }
    return FindStarBytewise(at, end);
}

// Sixteen bytes compared by one instruction; the mask's lowest set bit is
// the first '*'. Only called on a processor that has SSE2.
__attribute__((target("sse2"))) const char* FindStarBySse2(const char* at, const char* end)
{
    const __m128i stars = _mm_set1_epi8('*');
    for (; end - at >= 16; at += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, stars));
        if (mask)
            return at + __builtin_ctz(static_cast<unsigned>(mask));
    }
    return FindStarBytewise(at, end);
}

// The first '*' among `count` bytes from `from`, or null.
const char* FindStar(const char* from, int32_t count)
{
    if (scanWithSse2)
        return FindStarBySse2(from, from + count);
    return FindStarByWords(from, from + count);
}

void ConsumeBufferedBytes(int32_t count)
{
    scanCursor += count;
    scanAvailable -= count;
    scanConsumed += count;
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
        ConsumeBufferedBytes(star ? static_cast<int32_t>(star - scanCursor) + 1 : scanAvailable);
        if (star)
            return true;
    }
}

// NextBytesAreTagAndColon for a tag and ':' that lie wholly in the buffer
// load: compares them in place and consumes the same bytes, the breaking
// one included. Most '*' in a large payload fail at the first byte, and
// this spares them a call per byte.
bool BufferedBytesAreTagAndColon(const char* tag)
{
    int32_t matched = 0;
    while (tag[matched] && scanCursor[matched] == tag[matched])
        ++matched;
    const bool found = !tag[matched] && scanCursor[matched] == ':';
    ConsumeBufferedBytes(matched + 1);
    return found;
}

// Reads bytes until '*', tag and ':' have gone by. False at end of file.
bool SkipToPayloadLength(const char* tag, int32_t tagLength)
{
    for (;;) {
        if (!SkipPastStar())
            return false;
        const bool found = scanAvailable > tagLength ? BufferedBytesAreTagAndColon(tag)
                                                     : NextBytesAreTagAndColon(tag);
        if (found)
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
    const char* tag = marker + markerPrefixLength;
    if (!SkipToPayloadLength(tag, lstrlenA(tag)))
        return 0;

    // The block reads carried the file position past the length field;
    // scanConsumed is the offset of the byte right after ':', which lies
    // beyond 2 GiB in a file that large: the seek takes its high half too.
    LONG high = static_cast<LONG>(scanConsumed >> 32);
    if (SetFilePointer(selfFile, static_cast<LONG>(static_cast<uint32_t>(scanConsumed)), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return -1;
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
