// Program entry and lifetime: the start-up order, the message loop and the
// one exit sequence, and the loading of the animation.
#pragma once

#include "platform/win32.h"

extern HINSTANCE appInstance;

// Reads the GIF section of `fileName` and parses it; then builds the display
// palette and the canvas and closes the file. Returns 1 when all is ready, 0
// when the section is missing or unreadable or the GIF has no global colour
// table.
int LoadAnimation(const char* fileName, const char* marker);

// The exit sequence, run on every path once the timer resolution was set.
void RunExitSequence();
