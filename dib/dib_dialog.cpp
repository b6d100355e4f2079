// The common Save As and Open dialogs for bitmap files.
#include <windows.h>

#include <commdlg.h>

#include <cstring>

#include "dib/dib_file.h"

#include <cstddef>

#include "dib/dialog_record.h"


namespace {
constexpr DWORD kDialogFlags = OFN_NOREADONLYRETURN | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
static_assert(kDialogFlags == 0x8006);

OPENFILENAMEA DialogRecord(char* nameBuffer, const char* filter)
{
    OPENFILENAMEA record;
    std::memset(&record, 0, sizeof record);
    record.lStructSize = kDialogRecordSize;
    record.lpstrFilter = filter;
    record.lpstrDefExt = "bmp";
    record.lpstrFile = nameBuffer;
    record.nMaxFile = kDibNameSize - 1;
    record.Flags = kDialogFlags;
    return record;
}
}  // namespace

int DibSaveDialog(char* nameBuffer, int* format)
{
    nameBuffer[0] = '\0';
    OPENFILENAMEA record = DialogRecord(nameBuffer, "Windows Bitmap (*.bmp)\0*.bmp\0");
    record.nFilterIndex = 1;
    if (!GetSaveFileNameA(&record))
        return 0;
    *format = record.nFilterIndex == 1 ? kDibFormatBmp : kDibFormatJpeg;
    bool typedExtension = record.nFileExtension != 0 && nameBuffer[record.nFileExtension] != '\0';
    if (!typedExtension && std::strlen(nameBuffer) + 4 <= kDibNameSize - 1)
        std::strcat(nameBuffer, *format == kDibFormatBmp ? ".bmp" : ".jpg");
    return 1;
}

int DibOpenDialog(char* nameBuffer)
{
    nameBuffer[0] = '\0';
    OPENFILENAMEA record = DialogRecord(nameBuffer, "Windows Bitmaps (*.bmp)\0*.bmp\0");
    return GetOpenFileNameA(&record) ? 1 : 0;
}
