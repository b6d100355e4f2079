#pragma once
// DIB handles from and to byte vectors, and a scratch directory for files.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dib/dib.h"

inline HGLOBAL ToHandle(const std::vector<uint8_t>& bytes)
{
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(dib), bytes.data(), bytes.size());
    GlobalUnlock(dib);
    return dib;
}

inline std::vector<uint8_t> BytesOf(HGLOBAL dib)
{
    auto* p = static_cast<const uint8_t*>(GlobalLock(dib));
    std::vector<uint8_t> bytes(p, p + GlobalSize(dib));
    GlobalUnlock(dib);
    return bytes;
}

// Deletes a directory's files and its subdirectories' files (two levels are all the
// tests make) and the subdirectories.
inline void EmptyDir(const std::string& dir, int depth = 2)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DeleteFileA((dir + name).c_str());
        } else if (depth > 1) {
            EmptyDir(dir + name + "\\", depth - 1);
            RemoveDirectoryA((dir + name).c_str());
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

// An empty directory under the temporary directory (left over files of an earlier run
// are removed: a file that exists would make the Save As dialog ask about it). OpenFile
// takes paths of at most 127 characters, so it stays short.
inline std::string ScratchDir(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string dir = std::string(temp) + "pgxdib\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    dir += std::string(name) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    EmptyDir(dir);
    return dir;
}

inline std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD got = 0;
    ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

inline void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &put, nullptr);
    CloseHandle(file);
}

inline bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
