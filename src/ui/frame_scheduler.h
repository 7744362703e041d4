// Frame scheduler: shows the next frame on each step and arms a one-shot
// multimedia timer for its delay; the timer's thread only posts WM_TIMER.
#pragma once

#include <cstdint>

#include "platform/win32.h"

extern int32_t currentFrameIndex;  // frame last stepped to; -1 before the first step
extern UINT frameTimerId;          // armed timer, 0 when none or when the service refused

// One step: cancel the timer, move to the next frame (requesting the WAVE at
// frame 0), copy it onto the canvas, invalidate its clipped rectangle in
// client coordinates and, with two or more frames, arm the timer for its
// delay (hundredths of a second) x 10 ms. A frame count of 0, a null frame or
// a frame without pixels ends the step with nothing drawn and no timer.
void AdvanceFrame(HWND window);

// Cancels the timer, then arms a one-shot timer of `delayMs` milliseconds
// whose expiry posts WM_TIMER to `window`. 0 ms is armed as 10 ms, and a
// delay beyond the timer service's range (timeGetDevCaps) as its nearest end.
void ArmFrameTimer(UINT delayMs, HWND window);

// Kills the armed timer, if any, and sets frameTimerId to 0.
void CancelFrameTimer();

// Timer callback, on the timer service's thread: posts WM_TIMER (wParam the
// timer id, lParam 0) to the window passed as user value. Touches no state.
void CALLBACK FrameTimerProc(UINT timerId, UINT message, DWORD_PTR user,
                             DWORD_PTR reserved1, DWORD_PTR reserved2);
