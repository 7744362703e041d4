// Copies the optional MIDI and WAVE payloads out of the program's own file
// into temporary files, whose paths the sound playback and the exit sequence
// use. An empty path means that the sound is absent.
#pragma once

const int tempPathSize = 256;

extern char midiTempPath[tempPathSize];  // "<TEMP>\pavolin.mid" once read
extern char waveTempPath[tempPathSize];  // "<TEMP>\pavolin.wav" once read

// Finds the section of `marker` in `fileName` and writes its payload to
// `tempFileName` (with its leading backslash) in the TEMP directory, or in the
// Windows directory when TEMP is unset, empty or too long for the path to
// hold it with the file name. `tempPath` is set once the payload has been
// read, even when the file cannot be created; it stays empty when the section
// is absent or unreadable, or when no directory fits. selfFile is closed
// before it returns.
void ExtractSoundPayload(const char* fileName, const char* marker,
                         char (&tempPath)[tempPathSize], const char* tempFileName);

// The two instances the start-up sequence runs, MIDI first.
void ExtractMidiPayload(const char* fileName);
void ExtractWavePayload(const char* fileName);
