#include "support/fake_sound.h"

#include <string>

#include "support/call_log.h"
#include "support/fake_import.h"

FakeSoundService fakeSound;

namespace {

std::string CommandName(UINT command)
{
    switch (command) {
    case MCI_OPEN: return "MCI_OPEN";
    case MCI_PLAY: return "MCI_PLAY";
    case MCI_STOP: return "MCI_STOP";
    case MCI_CLOSE: return "MCI_CLOSE";
    default: return Hex(command);
    }
}

// The strings of the open block are read only where the flags say they are
// strings.
std::string OpenBlockText(DWORD_PTR flags, const MCI_OPEN_PARMSA* open)
{
    std::string text = "type ";
    if ((flags & MCI_OPEN_TYPE) && !(flags & MCI_OPEN_TYPE_ID))
        text += Quoted(open->lpstrDeviceType);
    else
        text += "unset";
    text += ", element ";
    if ((flags & MCI_OPEN_ELEMENT) && !(flags & MCI_OPEN_ELEMENT_ID))
        text += Quoted(open->lpstrElementName);
    else
        text += "unset";
    return text;
}

std::string ParameterText(UINT command, DWORD_PTR flags, DWORD_PTR parameters)
{
    if (!parameters)
        return "null";
    if (command == MCI_OPEN)
        return OpenBlockText(flags, reinterpret_cast<const MCI_OPEN_PARMSA*>(parameters));
    if (command == MCI_PLAY) {
        const MCI_PLAY_PARMS* play = reinterpret_cast<const MCI_PLAY_PARMS*>(parameters);
        return "callback " + Hex(play->dwCallback);
    }
    return Hex(parameters);
}

MCIERROR ResultOf(UINT command)
{
    switch (command) {
    case MCI_OPEN: return fakeSound.openResult;
    case MCI_PLAY: return fakeSound.playResult;
    case MCI_STOP: return fakeSound.stopResult;
    case MCI_CLOSE: return fakeSound.closeResult;
    default: return MCIERR_UNRECOGNIZED_COMMAND;
    }
}

MCIERROR WINAPI FakeMciSendCommandA(MCIDEVICEID device, UINT command, DWORD_PTR flags,
                                    DWORD_PTR parameters)
{
    RecordCall("mciSendCommandA(" + Hex(device) + ", " + CommandName(command) + ", flags " +
               Hex(flags) + ", " + ParameterText(command, flags, parameters) + ")");
    const MCIERROR result = ResultOf(command);
    if (command == MCI_OPEN && result == 0 && parameters)
        reinterpret_cast<MCI_OPEN_PARMSA*>(parameters)->wDeviceID = fakeSound.nextDeviceId++;
    return result;
}

BOOL WINAPI FakePlaySoundA(LPCSTR sound, HMODULE module, DWORD flags)
{
    RecordCall("PlaySoundA(" + Quoted(sound) + ", module " + Hex(module) + ", flags " +
               Hex(flags) + ")");
    return fakeSound.playSoundResult;
}

HMODULE WINAPI FakeLoadLibraryA(LPCSTR name)
{
    if (name && lstrcmpiA(name, "mciseq.dll") == 0) {
        RecordCall("LoadLibraryA(" + Quoted(name) + ")");
        return fakeSound.sequencerDriver;
    }
    using LoadLibraryFunction = HMODULE(WINAPI*)(LPCSTR);
    static const auto systemLoadLibraryA = reinterpret_cast<LoadLibraryFunction>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA"));
    return systemLoadLibraryA(name);
}

}  // namespace

FAKE_IMPORT(LoadLibraryA, 4, FakeLoadLibraryA);
FAKE_IMPORT(mciSendCommandA, 16, FakeMciSendCommandA);
FAKE_IMPORT(PlaySoundA, 12, FakePlaySoundA);

void ResetFakeSound()
{
    fakeSound = FakeSoundService{0, 0, 0, 0, 0x31, TRUE, reinterpret_cast<HMODULE>(0x6EB80000)};
}
