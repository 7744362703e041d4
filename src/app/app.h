// Program entry and lifetime: the start-up order, the message loop and the
// one exit sequence, and the loading of the animation.
#pragma once

#include "platform/win32.h"

// Writes the full path of the running executable into modulePath. The path
// shares its storage with the scanner's buffer, so it is fetched again before
// every payload search.
void FetchModulePath();

// Reads the GIF section of `fileName` and parses it; then builds the display
// palette and the canvas and closes the file. Returns 1 when all is ready, 0
// when the section is missing or unreadable or the GIF has no global colour
// table (the file may then still be open, for the exit sequence to close).
int LoadAnimation(const char* fileName, const char* marker);

// Dispatches the thread's messages until WM_QUIT; returns its wParam.
int RunMessageLoop();

// The exit sequence, run on every path once the timer resolution was set:
// closes the program's file, cancels the frame timer, gives back the timer
// resolution, frees the frames and the palette, stops the sounds and deletes
// their files.
void RunExitSequence();
