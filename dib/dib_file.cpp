#include "dib/dib_file.h"

#include <float.h>

#include <cstring>

#include "dib/dib.h"
#include "dib/dib_lock.h"
#include "base/error_box.h"

static_assert(sizeof(BITMAPFILEHEADER) == kFileHeaderBytes);
static_assert(offsetof(BITMAPFILEHEADER, bfSize) == 2);
static_assert(offsetof(BITMAPFILEHEADER, bfOffBits) == 10);

namespace {
int saveFormat = kDibFormatBmp;
int jpegQuality = 75;

const char* ExtensionFor(int format)
{
    return format == kDibFormatBmp ? ".bmp" : ".jpg";
}

// Appends the format's extension when the name has none of its own (no dot, or the
// last dot belongs to a directory). False when the result would not fit.
bool AddExtension(char* name, int format)
{
    const char* dot = std::strrchr(name, '.');
    if (dot && !std::strpbrk(dot, "\\/"))
        return true;
    if (std::strlen(name) + 4 > kDibNameSize - 1)
        return false;
    std::strcat(name, ExtensionFor(format));
    return true;
}

}  // namespace

int DibWriteJpeg(HGLOBAL, const char*)
{
    TWAIN_ErrorBox("This version of ACQUIRA does not support JPEG/JFIF files.");
    return -3;
}

int DibWriteToHandle(HGLOBAL dib, HFILE file)
{
    LockedDib locked(dib);
    if (!locked.data())
        return -3;
    BmpFileHeader header;
    int64_t dibBytes = DibMemPrepareFile(locked.data(), locked.size(), &header);
    if (dibBytes < 0)
        return -4;
    char bytes[kFileHeaderBytes];
    BmpBuildFileHeader(header, reinterpret_cast<uint8_t*>(bytes));
    if (_lwrite(file, bytes, kFileHeaderBytes) != kFileHeaderBytes)
        return -4;
    auto count = UINT(dibBytes);
    return _lwrite(file, reinterpret_cast<const char*>(locked.data()), count) == count ? 0 : -4;
}

// OpenFile keeps the name in a 128-character record and refuses longer ones; store
// directories of hosts are often deeper than that. Longer names get the same access and
// sharing through CreateFileA.
static HFILE OpenNamedFile(const char* name, UINT style)
{
    if (std::strlen(name) < OFS_MAXPATHNAME) {
        OFSTRUCT info{};
        return OpenFile(name, &info, style);
    }
    bool create = style & OF_CREATE;
    HANDLE handle = CreateFileA(name, create ? GENERIC_WRITE : GENERIC_READ, create ? 0 : FILE_SHARE_READ, nullptr,
                                create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? HFILE_ERROR : HFILE(INT_PTR(handle));
}

int DibWriteFile(HGLOBAL dib, const char* name)
{
    int format = saveFormat;
    char buffer[kDibNameSize] = "";
    if (name) {
        if (std::strlen(name) > kDibNameSize - 1)
            return -2;
        std::strcpy(buffer, name);
    }
    // The format picked in the dialog holds for this file only.
    if (buffer[0] == '\0' && !DibSaveDialog(buffer, &format))
        return -1;
    if (!AddExtension(buffer, format))
        return -2;
    if (format == kDibFormatJpeg)
        return DibWriteJpeg(dib, buffer);
    HFILE file = OpenNamedFile(buffer, OF_CREATE | OF_WRITE | OF_SHARE_EXCLUSIVE);
    if (file == HFILE_ERROR)
        return -2;
    int result = DibWriteToHandle(dib, file);
    _lclose(file);
    _fpreset();
    return result;
}

HGLOBAL DibReadFromHandle(HFILE file)
{
    // The file is read from its start wherever its position is.
    SetFilePointer(reinterpret_cast<HANDLE>(INT_PTR(file)), 0, nullptr, FILE_BEGIN);
    return DibReadFromStream([file](void* buffer, size_t count) -> int64_t {
        UINT read = _lread(file, buffer, UINT(count));
        return read == UINT(HFILE_ERROR) ? -1 : int64_t(read);
    });
}

HGLOBAL DibReadFromStream(const std::function<int64_t(void* buffer, size_t count)>& read)
{
    // A stream may hand over fewer bytes than asked before its end.
    auto readExactly = [&read](void* buffer, size_t count) {
        for (auto* at = static_cast<uint8_t*>(buffer); count > 0;) {
            int64_t got = read(at, count);
            if (got <= 0)
                return false;
            at += got;
            count -= size_t(got);
        }
        return true;
    };
    uint8_t bytes[kFileHeaderBytes];
    if (!readExactly(bytes, kFileHeaderBytes) || bytes[0] != 'B' || bytes[1] != 'M')
        return nullptr;
    int64_t dibBytes = BmpDibBytes(BmpParseFileHeader(bytes));
    if (dibBytes < kCoreHeaderBytes)
        return nullptr;
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(dibBytes));
    if (!dib)
        return nullptr;
    bool whole;
    {
        LockedDib locked(dib);
        whole = locked.data() && readExactly(locked.data(), size_t(dibBytes)) &&
                DibIsSafe(locked.data(), size_t(dibBytes));
    }
    if (!whole) {
        GlobalFree(dib);
        return nullptr;
    }
    return dib;
}

HGLOBAL DibReadFile(const char* name)
{
    char buffer[kDibNameSize] = "";
    if (!name || name[0] == '\0') {
        if (!DibOpenDialog(buffer))
            return nullptr;
        name = buffer;
    }
    if (std::strlen(name) > kDibNameSize - 1)
        return nullptr;
    HFILE file = OpenNamedFile(name, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        return nullptr;
    HGLOBAL dib = DibReadFromHandle(file);
    _lclose(file);
    return dib;
}

int DibSetSaveFormat(int code)
{
    if (code == kDibFormatBmp) {
        saveFormat = code;
        return 1;
    }
    if (code == kDibFormatJpeg) {
        if (!DibJpegAvailable()) {
            TWAIN_ErrorBox("Cannot save JPEG files: IJL11.DLL or IJL10.DLL not found.");
            return 0;
        }
        saveFormat = code;
        return 1;
    }
    return 0;
}

int DibGetSaveFormat()
{
    return saveFormat;
}

int DibJpegAvailable()
{
    return 0;
}

void DibSetJpegQuality(int quality)
{
    jpegQuality = quality;
}

int DibGetJpegQuality()
{
    return jpegQuality;
}
