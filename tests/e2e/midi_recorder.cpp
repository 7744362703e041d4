// A MIDI output driver for the end-to-end tests, standing in for a
// synthesiser on machines that have none. Wine's multimedia library loads it
// in place of its MIDI mapper (the DLL is named midimap.dll, lies beside the
// player, and WINEDLLOVERRIDES says midimap=n), so the MCI sequencer plays
// the song into it. Every message it receives is appended as one line to the
// file that MIDI_RECORDER_LOG names:
//
//   <microseconds> open | close | reset | data <status> <data1> <data2> | long <bytes>
//
// Times come from one performance counter, so the lines of a run can be
// compared with each other. Each line is written with a single append, so
// the log can be read while the player runs.
#include <windows.h>
#include <mmddk.h>

#include <cstdio>

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);

// The two entry points a MIDI output driver exports.
extern "C" DWORD WINAPI modMessage(UINT device, UINT message, DWORD_PTR instance,
                                   DWORD_PTR param1, DWORD_PTR param2);
extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1,
                                     LPARAM param2);

namespace {

// The client of the one open stream, for its callbacks.
struct OpenClient {
    MIDIOPENDESC desc;
    DWORD flags;
};

OpenClient client = {};
LARGE_INTEGER counterFrequency = {};

void Record(const char* text) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("MIDI_RECORDER_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char line[160];
    int size = snprintf(line, sizeof line, "%lld %s\n",
                        now.QuadPart * 1000000 / counterFrequency.QuadPart, text);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line, size, &written, nullptr);
    CloseHandle(file);
}

void Notify(UINT message, DWORD_PTR param) {
    DriverCallback(client.desc.dwCallback, HIWORD(client.flags),
                   reinterpret_cast<HDRVR>(client.desc.hMidi), message, client.desc.dwInstance,
                   param, 0);
}

DWORD Capabilities(MIDIOUTCAPSW* caps, DWORD_PTR size) {
    if (caps == nullptr || size < sizeof(MIDIOUTCAPSW)) {
        return MMSYSERR_INVALPARAM;
    }
    ZeroMemory(caps, sizeof *caps);
    caps->vDriverVersion = 0x0100;
    lstrcpynW(caps->szPname, L"MIDI recorder", MAXPNAMELEN);
    caps->wTechnology = MOD_SWSYNTH;
    caps->wVoices = 16;
    caps->wNotes = 128;
    caps->wChannelMask = 0xFFFF;
    return MMSYSERR_NOERROR;
}

DWORD Open(const MIDIOPENDESC* desc, DWORD_PTR flags) {
    if (desc == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    client.desc = *desc;
    client.flags = static_cast<DWORD>(flags);
    Record("open");
    Notify(MOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

DWORD Close() {
    Record("close");
    Notify(MOM_CLOSE, 0);
    client = {};
    return MMSYSERR_NOERROR;
}

DWORD ShortMessage(DWORD_PTR message) {
    char text[32];
    snprintf(text, sizeof text, "data %02x %02x %02x", static_cast<unsigned>(message & 0xFF),
             static_cast<unsigned>((message >> 8) & 0xFF),
             static_cast<unsigned>((message >> 16) & 0xFF));
    Record(text);
    return MMSYSERR_NOERROR;
}

DWORD LongMessage(MIDIHDR* header) {
    if (header == nullptr || !(header->dwFlags & MHDR_PREPARED)) {
        return MIDIERR_UNPREPARED;
    }
    char text[32];
    snprintf(text, sizeof text, "long %lu", header->dwBufferLength);
    Record(text);
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    Notify(MOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    return MMSYSERR_NOERROR;
}

}  // namespace

extern "C" DWORD WINAPI modMessage(UINT, UINT message, DWORD_PTR, DWORD_PTR param1,
                                   DWORD_PTR param2) {
    switch (message) {
    case DRVM_INIT:
        return MMSYSERR_NOERROR;
    case MODM_GETNUMDEVS:
        return 1;
    case MODM_GETDEVCAPS:
        return Capabilities(reinterpret_cast<MIDIOUTCAPSW*>(param1), param2);
    case MODM_OPEN:
        return Open(reinterpret_cast<const MIDIOPENDESC*>(param1), param2);
    case MODM_CLOSE:
        return Close();
    case MODM_DATA:
        return ShortMessage(param1);
    case MODM_LONGDATA:
        return LongMessage(reinterpret_cast<MIDIHDR*>(param1));
    case MODM_RESET:
        Record("reset");
        return MMSYSERR_NOERROR;
    default:
        // Preparing headers is left to the multimedia library itself.
        return MMSYSERR_NOTSUPPORTED;
    }
}

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1,
                                     LPARAM param2) {
    switch (message) {
    case DRV_LOAD:
        QueryPerformanceFrequency(&counterFrequency);
        return 1;
    case DRV_FREE:
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return 1;
    case DRV_QUERYCONFIGURE:
        return 0;
    case DRV_CONFIGURE:
        return DRVCNF_OK;
    case DRV_INSTALL:
    case DRV_REMOVE:
        return DRVCNF_RESTART;
    default:
        return DefDriverProc(id, driver, message, param1, param2);
    }
}
