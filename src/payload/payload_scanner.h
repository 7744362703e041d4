// Finds a payload section ('*', tag, ':', 32-bit little-endian length,
// payload) in the program's own file and reads its bytes. The file is read
// forwards in blocks of scanBufferSize bytes and each byte is looked at once.
#pragma once

#include <cstdint>

#include "payload/memory_buffer.h"
#include "platform/win32.h"

const int scanBufferSize = 4096;

// The scanner's read buffer. It is also the storage of the module path, so a
// search overwrites the path: fetch it again before every search.
extern char scanBuffer[scanBufferSize];
extern char (&modulePath)[scanBufferSize];

// The program's own file as opened by the current search; 0 when none is open.
extern HANDLE selfFile;
extern int32_t scanAvailable;  // bytes of scanBuffer not yet handed out
extern int64_t scanConsumed;   // bytes handed out: the file offset of the next byte

// Whether the search looks for the next '*' sixteen bytes per SSE2
// instruction; set at start when the processor has SSE2. Otherwise it tests
// four 32-bit words at a time. Either way the same bytes are consumed.
extern bool scanWithSse2;

// Zero-terminated and led by three hyphens, so that the program's own copies
// of them never read as a section.
extern const char gifMarker[];   // "---GIF_BEGINS_HERE"
extern const char waveMarker[];  // "---WAVE_BEGINS_HERE"
extern const char midiMarker[];  // "---MIDI_BEGINS_HERE"

// Searches `fileName` from its first byte for the marker's tag (the marker
// without its three leading hyphens) between '*' and ':'; the first such
// sequence in the file wins. Returns the payload length with the file
// positioned at the first payload byte; 0 when the file cannot be opened, the
// section is absent or its length is 0; -1 when the length field is cut off or
// cannot be read; a negative value for a length of 2^31 or more. selfFile
// stays open after every result but a failed open (a handle still open from
// an earlier search is closed first). `fileName` may lie in scanBuffer.
int32_t FindPayloadSection(const char* fileName, const char* marker);

// The next byte of selfFile, 0..255, or -1 at end of file or on a read error.
int NextScanByte();

// Reads exactly buffer.size bytes from the current position of selfFile into
// buffer.data (pos is ignored). True only when all of them arrived; false for
// a buffer whose block could not be allocated.
bool ReadPayload(MemoryBuffer& buffer);

// Closes selfFile if it is open and sets it to 0.
void CloseSelfFile();
