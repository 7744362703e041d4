#include "payload/sound_extraction.h"

#include "payload/payload_scanner.h"
#include "platform/win32.h"

char midiTempPath[tempPathSize];
char waveTempPath[tempPathSize];

namespace {

// Writes TEMP, or else the Windows directory, into tempPath, provided it
// leaves room for the file name and the zero; otherwise tempPath is emptied.
// Both calls return the length copied, or the size they would need (zero
// included) when the array is too small, and then leave it unwritten; so a
// length is trusted only when it fits.
bool ChooseTempDirectory(char (&tempPath)[tempPathSize], const char* tempFileName)
{
    const DWORD longestDirectory = tempPathSize - 1 - lstrlenA(tempFileName);
    DWORD length = GetEnvironmentVariableA("TEMP", tempPath, tempPathSize);
    if (length > 0 && length <= longestDirectory)
        return true;
    length = GetWindowsDirectoryA(tempPath, tempPathSize);
    if (length > 0 && length <= longestDirectory)
        return true;
    tempPath[0] = 0;
    return false;
}

void WriteTempFile(const char* path, const MemoryBuffer& payload)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, payload.data, static_cast<DWORD>(payload.size), &written, nullptr);
    CloseHandle(file);
}

void CopyPayloadToTempFile(int32_t length, char (&tempPath)[tempPathSize], const char* tempFileName)
{
    MemoryBuffer payload(length);
    if (!ReadPayload(payload))
        return;
    if (!ChooseTempDirectory(tempPath, tempFileName))
        return;
    // Always with its backslash: a TEMP ending in one gives two, which the
    // file system takes as one.
    lstrcpyA(tempPath + lstrlenA(tempPath), tempFileName);
    WriteTempFile(tempPath, payload);
}

}  // namespace

void ExtractSoundPayload(const char* fileName, const char* marker,
                         char (&tempPath)[tempPathSize], const char* tempFileName)
{
    int32_t length = FindPayloadSection(fileName, marker);
    if (length > 0)
        CopyPayloadToTempFile(length, tempPath, tempFileName);
    CloseSelfFile();
}

void ExtractMidiPayload(const char* fileName)
{
    ExtractSoundPayload(fileName, midiMarker, midiTempPath, "\\pavolin.mid");
}

void ExtractWavePayload(const char* fileName)
{
    ExtractSoundPayload(fileName, waveMarker, waveTempPath, "\\pavolin.wav");
}
