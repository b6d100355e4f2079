// A DLL with nothing but a DSM_Entry that answers kStandInAnswer: the loader tests put it
// where a Source Manager may lie and tell from the answer which file was loaded.
#include <windows.h>

#include "twain/twain_defs.h"

extern "C" __declspec(dllexport) TW_UINT16 WINAPI DSM_Entry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16,
                                                             TW_UINT16, TW_MEMREF)
{
    return 0x5047;
}
