// Test files on the Windows side: a fresh directory per test, whole files
// written and read with the Win32 calls, and payload sections built from the
// program's own marker strings (so that no test literal holds a whole
// section header that a scan of the test executable could find).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace scratch {

inline std::string LengthField(uint32_t length)
{
    std::string field(4, '\0');
    for (int i = 0; i < 4; ++i)
        field[i] = static_cast<char>(length >> (8 * i));
    return field;
}

// The tag of a marker: the marker without its three leading hyphens.
inline std::string Tag(const char* marker)
{
    return std::string(marker + 3);
}

// '*', tag, ':' and the length field, without the payload.
inline std::string Header(const char* marker, uint32_t length)
{
    return "*" + Tag(marker) + ":" + LengthField(length);
}

// A well-formed section holding `payload`.
inline std::string Section(const char* marker, const std::string& payload)
{
    return Header(marker, static_cast<uint32_t>(payload.size())) + payload;
}

// `count` bytes that hold neither '*' nor ':', varying so that a payload read
// from a wrong offset shows.
inline std::string Filler(size_t count, unsigned seed = 0)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        char c = static_cast<char>((i * 7 + seed) % 251);
        bytes[i] = (c == '*' || c == ':') ? 'x' : c;
    }
    return bytes;
}

inline bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char block[4096];
    DWORD delivered = 0;
    while (ReadFile(file, block, sizeof block, &delivered, nullptr) && delivered > 0)
        bytes.append(block, delivered);
    CloseHandle(file);
    return bytes;
}

inline bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// True when nobody else holds the file open: an open that shares nothing
// succeeds only then.
inline bool CanOpenExclusively(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// Names of the entries of a directory, "." and ".." left out.
inline std::vector<std::string> ListDirectory(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

inline void RemoveTree(const std::string& directory)
{
    for (const std::string& name : ListDirectory(directory)) {
        std::string path = directory + "\\" + name;
        if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(directory.c_str());
}

// A new empty directory under the system's temporary directory, removed with
// everything in it when the object goes.
class Directory {
public:
    Directory()
    {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        for (unsigned attempt = GetTickCount();; ++attempt) {
            path_ = std::string(base) + "payload-test-" + std::to_string(GetCurrentProcessId()) +
                    "-" + std::to_string(attempt);
            if (CreateDirectoryA(path_.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
    }
    ~Directory() { RemoveTree(path_); }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

}  // namespace scratch
