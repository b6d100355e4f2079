#pragma once
// A scripted Source Manager with one source behind it, installed in place of DSM_Entry
// through the library's test seam. The source keeps one container per capability and
// answers every MSG_GET, MSG_GETCURRENT and MSG_GETDEFAULT with a fresh handle holding
// exactly those bytes; a successful MSG_SET replaces them with what was sent. Every
// capability call is recorded with the container it carried.

#include <windows.h>

#include <map>
#include <vector>

#include "caps/container_bytes.h"
#include "twain/twain.h"

namespace scripted {

struct Answer {
    TW_UINT16 conType = TWON_ONEVALUE;
    capbytes::Bytes bytes;
    bool nullHandle = false;       // succeed without a container
    bool unlockable = false;       // a handle without memory
    TW_UINT16 getRc = TWRC_SUCCESS;
    TW_UINT16 setRc = TWRC_SUCCESS;
};

struct CapCall {
    TW_UINT16 msg;
    TW_UINT16 cap;
    TW_UINT16 conType;
    capbytes::Bytes bytes;  // the container sent with MSG_SET
};

struct Source {
    std::map<TW_UINT16, Answer> caps;
    std::vector<CapCall> capCalls;
    std::vector<HGLOBAL> handedOut;  // every handle given to the library
    HGLOBAL resetHandle = nullptr;   // answered to MSG_RESET when set
    TW_UINT16 layoutRc = TWRC_SUCCESS;
    TW_IMAGELAYOUT layout{};         // answered to MSG_GET / MSG_GETDEFAULT
    std::vector<std::pair<TW_UINT16, TW_IMAGELAYOUT>> layoutCalls;
};
extern Source source;

// Resets the library and the script, and walks the session to the state (2 to 5).
void Open(int state = TWAIN_SOURCE_OPEN);
void Script(TW_UINT16 cap, TW_UINT16 conType, capbytes::Bytes bytes);
// Calls of one message, in order.
std::vector<CapCall> Calls(TW_UINT16 msg);
// Whether a handle given to the library has been freed since.
bool Freed(HGLOBAL handle);

}  // namespace scripted
