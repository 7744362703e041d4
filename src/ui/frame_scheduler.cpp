#include "ui/frame_scheduler.h"

#include <mmsystem.h>

#include "gif/gif_animation.h"
#include "imaging/blit.h"
#include "imaging/indexed_bitmap.h"
#include "ui/sound_player.h"

int32_t currentFrameIndex = -1;
UINT frameTimerId = 0;

namespace {

const UINT timerResolutionMs = 10;
// A frame without a delay still waits one timer tick: the service refuses
// 0 ms, and a refused request would halt the animation.
const UINT shortestDelayMs = 10;
const UINT hundredthsToMs = 10;

// The timer service refuses delays outside its range, and a refusal would
// halt the animation, so out-of-range delays are brought to its nearest end.
UINT DelayWithinServiceRange(UINT delayMs)
{
    if (delayMs == 0)
        delayMs = shortestDelayMs;
    TIMECAPS caps;
    if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR)
        return delayMs;
    if (delayMs < caps.wPeriodMin)
        return caps.wPeriodMin;
    if (delayMs > caps.wPeriodMax)
        return caps.wPeriodMax;
    return delayMs;
}

// Wraps to frame 0 after the last frame, and lands on 0 when there is none.
void StepFrameIndex()
{
    ++currentFrameIndex;
    if (currentFrameIndex >= animation.frameCount || currentFrameIndex < 0)
        currentFrameIndex = 0;
}

// The canvas rectangle becomes a client rectangle by the scroll positions;
// the background is not erased, so the frame replaces the picture without
// a flash.
void InvalidateCanvasRect(HWND window, RECT rect)
{
    const int vertical = GetScrollPos(window, SB_VERT);
    const int horizontal = GetScrollPos(window, SB_HORZ);
    rect.top -= vertical;
    rect.bottom -= vertical;
    rect.left -= horizontal;
    rect.right -= horizontal;
    InvalidateRect(window, &rect, FALSE);
}

}  // namespace

void AdvanceFrame(HWND window)
{
    CancelFrameTimer();
    StepFrameIndex();
    if (currentFrameIndex == 0)
        PlayWave();

    if (animation.frameCount <= 0 || !animation.frames)
        return;
    GifFrame* frame = animation.frames[currentFrameIndex];
    if (!frame)
        return;
    RECT rect;
    IndexedBitmap* bitmap = frame->Bounds(rect);
    if (!bitmap)
        return;

    Blit(canvas, *bitmap, rect, 0, 0, -1);
    InvalidateCanvasRect(window, rect);
    if (animation.frameCount >= 2)
        ArmFrameTimer(frame->delay * hundredthsToMs, window);
}

void ArmFrameTimer(UINT delayMs, HWND window)
{
    CancelFrameTimer();
    frameTimerId = timeSetEvent(DelayWithinServiceRange(delayMs), timerResolutionMs,
                                FrameTimerProc, reinterpret_cast<DWORD_PTR>(window),
                                TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
}

void CancelFrameTimer()
{
    if (frameTimerId != 0)
        timeKillEvent(frameTimerId);
    frameTimerId = 0;
}

void CALLBACK FrameTimerProc(UINT timerId, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    // lParam must stay 0: a WM_TIMER with a non-zero lParam is dispatched to
    // that address as a timer procedure instead of the window procedure.
    PostMessageA(reinterpret_cast<HWND>(user), WM_TIMER, timerId, 0);
}
