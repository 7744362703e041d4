// Runs the real, packed player as a child process with TEMP pointing at a
// fresh directory, and checks what it leaves behind and its exit code.
// Argument: the directory of packed players made by make_fixtures.py, as a
// Unix path (Z: is the root of the Unix file system under Wine).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/scratch_files.h"
#include "resources/resource_ids.h"

namespace {

std::string fixtureDirectory;

std::string Fixture(const std::string& name)
{
    return fixtureDirectory + "\\" + name;
}

const DWORD exitTimeoutMs = 15000;

struct PlayerRun {
    PROCESS_INFORMATION process = {};
    bool started = false;

    ~PlayerRun()
    {
        if (!started)
            return;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    // Exit code once the process has ended; STILL_ACTIVE after the timeout.
    DWORD WaitForExit(DWORD timeoutMs = exitTimeoutMs)
    {
        if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
};

// Starts `exe` with TEMP set to `temp` (the child inherits the environment).
void StartPlayer(PlayerRun& run, const std::string& exe, const std::string& temp,
                 const std::string& arguments = "")
{
    char saved[32768];
    DWORD savedLength = GetEnvironmentVariableA("TEMP", saved, sizeof saved);
    SetEnvironmentVariableA("TEMP", temp.c_str());
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    run.started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &run.process) != 0;
    SetEnvironmentVariableA("TEMP", savedLength > 0 && savedLength < sizeof saved ? saved : nullptr);
    ASSERT_TRUE(run.started) << "cannot start " << exe << ", error " << GetLastError();
}

// The child's main window, waiting for it to appear; null if it does not.
HWND WaitForPlayerWindow(const PlayerRun& run, DWORD timeoutMs = exitTimeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, "PavolinMainWin", nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == run.process.dwProcessId)
                return window;
        }
        if (WaitForSingleObject(run.process.hProcess, 50) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

std::string Listing(const std::string& directory)
{
    std::vector<std::string> names = scratch::ListDirectory(directory);
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text.empty() ? "<empty>" : text;
}

FILETIME LastWrite(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// Records the files added to and removed from a directory, in order, from
// construction on.
class DirectoryWatch {
public:
    explicit DirectoryWatch(const std::string& directory)
    {
        directory_ = CreateFileA(directory.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                 nullptr);
        overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Arm();
    }
    ~DirectoryWatch()
    {
        CancelIo(directory_);
        CloseHandle(directory_);
        CloseHandle(overlapped_.hEvent);
    }

    // "+name" for each file added, "-name" for each removed, in order, once
    // no change has come for `quietMs`.
    std::string Events(DWORD quietMs = 500)
    {
        while (WaitForSingleObject(overlapped_.hEvent, quietMs) == WAIT_OBJECT_0) {
            DWORD bytes = 0;
            GetOverlappedResult(directory_, &overlapped_, &bytes, FALSE);
            Collect(bytes);
            Arm();
        }
        return events_.empty() ? "<none>" : events_;
    }

private:
    void Arm()
    {
        ResetEvent(overlapped_.hEvent);
        ReadDirectoryChangesW(directory_, buffer_, sizeof buffer_, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME,
                              nullptr, &overlapped_, nullptr);
    }

    void Collect(DWORD bytes)
    {
        const BYTE* at = buffer_;
        while (bytes > 0) {
            auto record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
            std::string name;
            for (DWORD i = 0; i < record->FileNameLength / sizeof(WCHAR); ++i)
                name.push_back(static_cast<char>(record->FileName[i]));
            if (record->Action == FILE_ACTION_ADDED)
                events_ += (events_.empty() ? "+" : " +") + name;
            else if (record->Action == FILE_ACTION_REMOVED)
                events_ += (events_.empty() ? "-" : " -") + name;
            if (record->NextEntryOffset == 0)
                break;
            at += record->NextEntryOffset;
        }
    }

    HANDLE directory_;
    OVERLAPPED overlapped_ = {};
    alignas(DWORD) BYTE buffer_[16384];
    std::string events_;
};

// While the animation plays, both sound files hold their payloads.
void SoundFilesHoldTheirPayloads(const scratch::Directory& temp)
{
    EXPECT_TRUE(scratch::ReadWholeFile(temp.File("pavolin.mid")) ==
                scratch::ReadWholeFile(Fixture("song.mid")))
        << "pavolin.mid does not hold the MIDI payload";
    EXPECT_TRUE(scratch::ReadWholeFile(temp.File("pavolin.wav")) ==
                scratch::ReadWholeFile(Fixture("tone.wav")))
        << "pavolin.wav does not hold the WAVE payload";
}

// Once the animation is loaded the player holds no handle on its own file: an
// open that refuses to share reading succeeds only when no other handle
// reads the file.
void OwnFileIsClosed(const scratch::Directory&)
{
    HANDLE probe = CreateFileA(Fixture("gif_only.exe").c_str(), GENERIC_READ,
                               FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(probe, INVALID_HANDLE_VALUE)
        << "the player still holds its file open, error " << GetLastError();
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
}

// One start of a packed player, which ends with code 0 by itself or, when it
// plays, once `closing` is posted to its window. Both sounds are written,
// MIDI first, and the exit sequence deletes the MIDI file and then the WAVE
// file; without sound sections the paths stay empty, so the exit sequence
// leaves files of the same names, as an earlier run might have left them,
// alone.
struct Start {
    const char* name;
    const char* exe;
    const char* arguments;
    UINT closing;  // 0: ends without opening a window
    void (*whilePlaying)(const scratch::Directory& temp);
    bool earlierSoundFiles;
    const char* events;  // files added to and removed from TEMP, in order
};

void PrintTo(const Start& start, std::ostream* out) { *out << start.name; }

const char* const soundsWrittenAndDeleted = "+pavolin.mid +pavolin.wav -pavolin.mid -pavolin.wav";
const char* const ignoredArguments = "--gif other.gif /? \"two words\" -x";

const Start starts[] = {
    {"WithoutSectionsEndsAtOnceAndTouchesNoFile",
     "bare.exe", "", 0, nullptr, true, "<none>"},
    {"SoundFilesAreWrittenAndDeletedWhenTheGifIsUnusable_NoColourTable",
     "sounds_no_colour_table.exe", "", 0, nullptr, false, soundsWrittenAndDeleted},
    {"SoundFilesAreWrittenAndDeletedWhenTheGifIsUnusable_NoGif",
     "sounds_no_gif.exe", "", 0, nullptr, false, soundsWrittenAndDeleted},
    {"SoundFilesAreWrittenAndDeletedWhenTheGifIsUnusable_ShortGif",
     "sounds_short_gif.exe", "", 0, nullptr, false, soundsWrittenAndDeleted},
    {"CommandLineIsIgnored_WithSounds",
     "sounds_no_colour_table.exe", ignoredArguments, 0, nullptr, false, soundsWrittenAndDeleted},
    {"CommandLineIsIgnored_WithoutSections",
     "bare.exe", ignoredArguments, 0, nullptr, false, "<none>"},
    {"PlayingWindowKeepsTheSoundFilesUntilItCloses",
     "full.exe", "", WM_CLOSE, SoundFilesHoldTheirPayloads, false, soundsWrittenAndDeleted},
    {"ExitCommandEndsWithCodeZeroAndDeletesTheSoundFiles",
     "full.exe", "", WM_COMMAND, nullptr, false, soundsWrittenAndDeleted},
    {"PlayingPlayerHasClosedItsOwnFile",
     "gif_only.exe", "", WM_CLOSE, OwnFileIsClosed, false, "<none>"},
    {"GifOnlyPlaysAndDeletesNothingAtExit",
     "gif_only.exe", "", WM_CLOSE, nullptr, true, "<none>"},
};

class Startup : public testing::TestWithParam<Start> {
protected:
    scratch::Directory temp_;
};

TEST_P(Startup, EndsWithCodeZeroHavingCleanedUpAfterItself)
{
    const Start& test = GetParam();
    const std::string mid = temp_.File("pavolin.mid"), wav = temp_.File("pavolin.wav");
    if (test.earlierSoundFiles) {
        ASSERT_TRUE(scratch::WriteWholeFile(mid, "someone's song"));
        ASSERT_TRUE(scratch::WriteWholeFile(wav, "someone's sound"));
    }
    const FILETIME midWritten = LastWrite(mid), wavWritten = LastWrite(wav);
    DirectoryWatch watch(temp_.Path());

    PlayerRun run;
    StartPlayer(run, Fixture(test.exe), temp_.Path(), test.arguments);
    if (test.closing != 0) {
        HWND window = WaitForPlayerWindow(run);
        ASSERT_NE(window, nullptr) << "no main window; exit code " << run.WaitForExit(0);
        if (test.whilePlaying)
            test.whilePlaying(temp_);
        const WPARAM exitCommand = MAKEWPARAM(IDM_FILE_EXIT, 0);
        PostMessageA(window, test.closing, test.closing == WM_COMMAND ? exitCommand : 0, 0);
    }
    EXPECT_EQ(run.WaitForExit(), 0u)
        << (test.closing ? "still running after the close"
                         : "still running: did it open a window?");
    EXPECT_EQ(watch.Events(), test.events);
    if (!test.earlierSoundFiles) {
        EXPECT_EQ(Listing(temp_.Path()), "<empty>");
        return;
    }
    EXPECT_EQ(Listing(temp_.Path()), "pavolin.mid pavolin.wav");
    EXPECT_EQ(scratch::ReadWholeFile(mid), "someone's song");
    EXPECT_EQ(scratch::ReadWholeFile(wav), "someone's sound");
    const FILETIME midNow = LastWrite(mid), wavNow = LastWrite(wav);
    EXPECT_EQ(CompareFileTime(&midNow, &midWritten), 0) << "pavolin.mid was rewritten";
    EXPECT_EQ(CompareFileTime(&wavNow, &wavWritten), 0) << "pavolin.wav was rewritten";
}

INSTANTIATE_TEST_SUITE_P(PackedPlayer, Startup, testing::ValuesIn(starts),
                         [](const testing::TestParamInfo<Start>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: startup_test FIXTURE-DIRECTORY\n");
        return 2;
    }
    // A Unix path names the same file as Z: followed by the path.
    std::string directory = argv[1];
    if (!directory.empty() && directory[0] == '/')
        directory = "Z:" + directory;
    std::replace(directory.begin(), directory.end(), '/', '\\');
    fixtureDirectory = directory;
    return RUN_ALL_TESTS();
}
