#pragma once
// Hooks for the library's unit tests, built only into the test build of the library
// (PAGOREX_TEST_SEAMS); the shipped programs have none of them.
#ifndef PAGOREX_TEST_SEAMS
#error "test seams are part of the test build only"
#endif

#include "twain/twain_defs.h"

// Puts entry in place of the Source Manager's DSM_Entry, as if TWAIN_32.DLL had been
// loaded (state 2), and loads it again in place of the DLL after every unloading; null
// forgets it (state 1). Unloading then frees no module.
void TWAIN_InstallManagerEntryForTest(DSMENTRYPROC entry);
// Makes the loader take directory for both the Windows and the system directory (an
// empty text stands for directories that could not be read); null goes back to them.
void TWAIN_SetManagerDirectoryForTest(const char* directory);
// Returns every piece of session data to its start value (the manager is forgotten, not
// freed; the proxy window is destroyed; error boxes keep their suppression setting).
void TWAIN_ResetSessionForTest();
