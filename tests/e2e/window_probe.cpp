// A small Windows-side helper for the end-to-end scripts: it starts the
// player with a TEMP directory of the script's choosing and reports what the
// window manager knows about the player's windows, which the X tools cannot
// see (class names, client rectangles, control texts, hit-test areas).
//
//   window_probe launch TEMPDIR EXE     runs EXE with TEMP and TMP set to
//                                       TEMPDIR; prints "pid=N" at once, then
//                                       "exit=N" and exits with EXE's code
//   window_probe windows PID            visible top-level windows of PID
//   window_probe controls HWND          child windows in template order
//   window_probe metrics                the system metrics the player uses
//   window_probe hittest HWND CODE      a screen point where WM_NCHITTEST
//                                       gives CODE (e.g. 20 for HTCLOSE)
//   window_probe desktop                whether a top-level window can be
//                                       created and shown now
//
// Output is one record per line, tab-separated key=value fields.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const UINT messageTimeoutMs = 2000;

HWND ParseWindow(const char* text) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(strtoul(text, nullptr, 0)));
}

// Text of a window of another process: WM_GETTEXT, because GetWindowTextA
// returns nothing for the controls of another process.
void ReadText(HWND window, char* text, int size) {
    text[0] = '\0';
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, messageTimeoutMs, &length);
    text[size - 1] = '\0';
}

void PrintWindow(const char* kind, HWND window) {
    char className[256] = "";
    char text[1024];
    GetClassNameA(window, className, sizeof className);
    ReadText(window, text, sizeof text);
    RECT outer = {};
    RECT client = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    printf("%s\thwnd=0x%lx\tclass=%s\tid=%d\tstyle=0x%08lx\texstyle=0x%08lx"
           "\trect=%ld,%ld,%ld,%ld\tclient=%ld,%ld,%ld,%ld\tscroll=%d,%d\ttext=%s\n",
           kind, static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)), className,
           static_cast<int>(static_cast<short>(GetDlgCtrlID(window))),
           static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
           static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)),
           outer.left, outer.top, outer.right, outer.bottom,
           origin.x, origin.y, client.right - client.left, client.bottom - client.top,
           GetScrollPos(window, SB_HORZ), GetScrollPos(window, SB_VERT), text);
}

struct ProcessFilter {
    DWORD processId;
};

BOOL CALLBACK PrintIfOwned(HWND window, LPARAM filterAddress) {
    const ProcessFilter* filter = reinterpret_cast<const ProcessFilter*>(filterAddress);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == filter->processId && IsWindowVisible(window)) {
        PrintWindow("window", window);
    }
    return TRUE;
}

int ListWindows(DWORD processId) {
    ProcessFilter filter = {processId};
    EnumWindows(PrintIfOwned, reinterpret_cast<LPARAM>(&filter));
    return 0;
}

int ListControls(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        PrintWindow("control", child);
    }
    return 0;
}

int PrintMetrics() {
    RECT work = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    printf("metrics\tcxframe=%d\tcyframe=%d\tcycaption=%d\tcymenu=%d\tcxvscroll=%d"
           "\tcyhscroll=%d\tcxhscroll=%d\tcyvscroll=%d\tcxscreen=%d\tcyscreen=%d"
           "\tworkleft=%ld\tworktop=%ld\tworkright=%ld\tworkbottom=%ld\n",
           GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME),
           GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CYMENU),
           GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYHSCROLL),
           GetSystemMetrics(SM_CXHSCROLL), GetSystemMetrics(SM_CYVSCROLL),
           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
           work.left, work.top, work.right, work.bottom);
    return 0;
}

// Scans the caption band from its right end, where the close box lies.
int FindHitTestPoint(HWND window, LRESULT wanted) {
    RECT outer = {};
    GetWindowRect(window, &outer);
    const int band = 48;
    for (int y = outer.top; y < outer.top + band && y < outer.bottom; ++y) {
        for (int x = outer.right - 1; x >= outer.left; --x) {
            DWORD_PTR code = 0;
            if (SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                                    messageTimeoutMs, &code) &&
                static_cast<LRESULT>(code) == wanted) {
                printf("point\tx=%d\ty=%d\n", x, y);
                return 0;
            }
        }
    }
    printf("point\tnone\n");
    return 1;
}

// The child is put in a job that ends it when the job's last handle closes,
// so killing this process (the script's timeout, an interrupted test) takes
// the player with it.
int Launch(const char* tempDirectory, const char* executable) {
    SetEnvironmentVariableA("TEMP", tempDirectory);
    SetEnvironmentVariableA("TMP", tempDirectory);

    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

    char commandLine[4096];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", executable);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(executable, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        printf("error=CreateProcessA failed with %lu\n", GetLastError());
        return 255;
    }
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    printf("pid=%lu\n", process.dwProcessId);
    fflush(stdout);

    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 255;
    GetExitCodeProcess(process.hProcess, &exitCode);
    printf("exit=%lu\n", exitCode);
    fflush(stdout);
    return static_cast<int>(exitCode);
}

// A Wine desktop that came up without an X display (for instance from a
// console program run before the X server started) refuses the first
// windows created after the display appears; a script waits for this to
// succeed before it starts the player.
int TryTopLevelWindow() {
    HWND window = CreateWindowExA(0, "STATIC", "window_probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 120, 80, nullptr, nullptr, GetModuleHandleA(nullptr),
                                  nullptr);
    printf("desktop\tcreated=%d\n", window != nullptr ? 1 : 0);
    if (window != nullptr) {
        DestroyWindow(window);
    }
    return window != nullptr ? 0 : 1;
}

int Usage() {
    fprintf(stderr, "usage: window_probe launch TEMPDIR EXE | windows PID | controls HWND |"
                    " metrics | hittest HWND CODE | desktop\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    const char* command = argv[1];
    if (strcmp(command, "launch") == 0 && argc == 4) {
        return Launch(argv[2], argv[3]);
    }
    if (strcmp(command, "windows") == 0 && argc == 3) {
        return ListWindows(strtoul(argv[2], nullptr, 0));
    }
    if (strcmp(command, "controls") == 0 && argc == 3) {
        return ListControls(ParseWindow(argv[2]));
    }
    if (strcmp(command, "metrics") == 0 && argc == 2) {
        return PrintMetrics();
    }
    if (strcmp(command, "hittest") == 0 && argc == 4) {
        return FindHitTestPoint(ParseWindow(argv[2]), strtol(argv[3], nullptr, 0));
    }
    if (strcmp(command, "desktop") == 0 && argc == 2) {
        return TryTopLevelWindow();
    }
    return Usage();
}
