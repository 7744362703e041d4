#include "app/app.h"

#include "gif/gif_animation.h"
#include "imaging/display_palette.h"
#include "imaging/indexed_bitmap.h"
#include "payload/payload_scanner.h"
#include "payload/sound_extraction.h"
#include "ui/frame_scheduler.h"
#include "ui/main_window.h"
#include "ui/sound_player.h"

#include <mmsystem.h>

HINSTANCE appInstance;

void FetchModulePath()
{
    GetModuleFileNameA(appInstance, modulePath, scanBufferSize);
}

int LoadAnimation(const char* fileName, const char* marker)
{
    int32_t length = FindPayloadSection(fileName, marker);
    if (length <= 0)
        return 0;
    MemoryBuffer gifStream(length);
    if (!ReadPayload(gifStream))
        return 0;
    animation.Parse(gifStream);
    // Without a global colour table there is nothing to build the palette from.
    if (animation.colourTable.count == 0)
        return 0;
    BuildDisplayPalette(animation.colourTable.entries, animation.colourTable.count);
    AllocatePixels(canvas, animation.width, animation.height);
    CloseSelfFile();
    return 1;
}

int RunMessageLoop()
{
    MSG message = {};
    // GetMessageA gives -1 on error; that ends the loop too rather than
    // dispatching a message that was never filled in.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

void RunExitSequence()
{
    // Still open when LoadAnimation failed after finding its section.
    CloseSelfFile();
    // Before the frames go: a frame step must not find them freed.
    CancelFrameTimer();
    timeEndPeriod(10);
    animation.Release();
    DeleteDisplayPalette();
    // The Exit command ends the loop without destroying the window, so the
    // sounds may still be playing, and a file the sequencer holds open
    // cannot be deleted. After WM_DESTROY both calls do nothing.
    CloseMidi();
    StopWave();
    if (midiTempPath[0])
        DeleteFileA(midiTempPath);
    if (waveTempPath[0])
        DeleteFileA(waveTempPath);
}
