#pragma once
// Hooks for the library's unit tests. The program never calls them; without them the
// library behaves exactly as shipped.

#include "twain/twain_defs.h"

// Puts entry in place of the Source Manager's DSM_Entry, as if TWAIN_32.DLL had been
// loaded (state 2), and loads it again in place of the DLL after every unloading; null
// forgets it (state 1). Unloading then frees no module.
void TWAIN_InstallManagerEntryForTest(DSMENTRYPROC entry);
// Makes the loader look for TWAIN_32.DLL in directory instead of the Windows directory
// (an empty text stands for a Windows directory that could not be read); null goes back
// to the Windows directory.
void TWAIN_SetWindowsDirectoryForTest(const char* directory);
// Returns every piece of session data to its start value (the manager is forgotten, not
// freed; the proxy window is destroyed; error boxes keep their suppression setting).
void TWAIN_ResetSessionForTest();
