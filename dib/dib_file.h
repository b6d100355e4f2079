#pragma once
// Windows bitmap files: a DIB handle written as, and read back from, a BMP file (the
// 14-byte file header followed by the packed DIB), under a given name or one the user
// picks in the common Save As and Open dialogs. BMP is the only format; the JPEG
// setting exists, and every path that would need JPEG ends in a message.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>

constexpr int kDibFormatBmp = 2;   // TWFF_BMP
constexpr int kDibFormatJpeg = 4;  // TWFF_JFIF
// Name buffers hold 256 characters: a name and any extension appended to it must fit
// in 255.
constexpr int kDibNameSize = 256;

// 0 written; -1 the Save As dialog was cancelled; -2 the file could not be created (or
// the name does not fit); -3 the DIB could not be locked, or JPEG was asked for; -4 a
// write failed or the DIB cannot be written. A null or empty name asks the user.
int DibWriteFile(HGLOBAL dib, const char* name);
// The JPEG writer of a build without JPEG support: says so and answers -3.
int DibWriteJpeg(HGLOBAL dib, const char* name);
// Writes the BMP file at the file's current position: 0, -3 or -4. Leaves it open.
int DibWriteToHandle(HGLOBAL dib, HFILE file);
// A new DIB handle owned by the caller, or null (dialog cancelled, file not opened, not
// a bitmap file, short, a DIB that DibIsSafe refuses, no memory). Null or empty name
// asks the user.
HGLOBAL DibReadFile(const char* name);
// Reads a BMP file from the start of an open file.
HGLOBAL DibReadFromHandle(HFILE file);
// Reads a BMP file from its bytes in order: read answers how many it put in the buffer
// (up to count; 0 or less once the file has ended or failed). Judged like a file on disk.
HGLOBAL DibReadFromStream(const std::function<int64_t(void* buffer, size_t count)>& read);

// The common dialogs, answering 1 with a name in nameBuffer (kDibNameSize), 0 when the
// user cancelled. The Save As dialog also answers the format chosen.
int DibSaveDialog(char* nameBuffer, int* format);
int DibOpenDialog(char* nameBuffer);

// 1 when the default format was set; JPEG is refused with a message while unavailable.
int DibSetSaveFormat(int code);
int DibGetSaveFormat();
int DibJpegAvailable();
// Kept for the interface; nothing reads it.
void DibSetJpegQuality(int quality);
int DibGetJpegQuality();
