#pragma once
// The size of the Windows 95 OPENFILENAMEA record, without the Windows 2000 fields, which
// every file dialog of the program is given.
#include <windows.h>

#include <commdlg.h>

#include <cstddef>

constexpr DWORD kDialogRecordSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#ifndef _WIN64
static_assert(kDialogRecordSize == 76);
#else
static_assert(kDialogRecordSize == 136);
#endif
