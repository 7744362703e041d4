// Finds a payload section ('*', tag, ':', 32-bit little-endian length,
// payload) in the program's own file and reads its bytes.
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
extern int32_t scanConsumed;   // bytes handed out: the file offset of the next byte

extern const char gifMarker[];   // "---GIF_BEGINS_HERE"
extern const char waveMarker[];  // "---WAVE_BEGINS_HERE"
extern const char midiMarker[];  // "---MIDI_BEGINS_HERE"

// Searches `fileName` from its first byte for the marker's tag (the marker
// without its three leading hyphens) between '*' and ':'. Returns the payload
// length with the file positioned at the first payload byte; 0 when the file
// cannot be opened, the section is absent or its length is 0; -1 when the
// length field is cut off or cannot be read. selfFile stays open after every
// result but a failed open. `fileName` may lie in scanBuffer.
int32_t FindPayloadSection(const char* fileName, const char* marker);

// The next byte of selfFile, 0..255, or -1 at end of file or on a read error.
int NextScanByte();

// Reads exactly buffer.size bytes from the current position of selfFile into
// buffer.data (pos is ignored). True only when all of them arrived.
bool ReadPayload(MemoryBuffer& buffer);

// Closes selfFile if it is open and sets it to 0.
void CloseSelfFile();
