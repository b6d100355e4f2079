#include "base/error_box.h"

#include <windows.h>

namespace {
bool suppressErrors = false;
}

void TWAIN_ErrorBox(const char* text)
{
    if (!suppressErrors)
        MessageBoxA(nullptr, text, "TWAIN Error", MB_OK | MB_ICONINFORMATION);
}

bool TWAIN_SuppressErrorBoxes(bool suppress)
{
    bool previous = suppressErrors;
    suppressErrors = suppress;
    return previous;
}
