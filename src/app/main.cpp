// The program's entry: the start-up steps in their order, the message loop
// and the one exit sequence. Every failure is silent and the exit code is 0.
#include "app/app.h"
#include "payload/payload_scanner.h"
#include "payload/sound_extraction.h"
#include "ui/main_window.h"

#include <mmsystem.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    appInstance = instance;
    // Each search reads the file through modulePath's storage, so the path
    // is fetched afresh before every one.
    FetchModulePath();
    ExtractMidiPayload(modulePath);
    FetchModulePath();
    ExtractWavePayload(modulePath);
    FetchModulePath();
    timeBeginPeriod(10);

    int exitCode = 0;
    if (LoadAnimation(modulePath, gifMarker) && RegisterMainWindowClass(appInstance) &&
        CreateMainWindow(appInstance, showCommand))
        exitCode = RunMessageLoop();

    RunExitSequence();
    return exitCode;
}
