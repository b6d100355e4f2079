#pragma once
// The scripted Source Manager, and the one source behind it, for every unit test of the
// acquisition library. Installed in place of DSM_Entry through the library's test seam.
//
// It records every call. A rule scripted for a triplet (Script with a triplet) answers
// it; without one the manager and the source behave as a well-mannered pair would:
// - the manager lists `sources`, opens the first as default, answers DAT_STATUS;
// - the source keeps one container per capability (`caps`) and answers every MSG_GET,
//   MSG_GETCURRENT and MSG_GETDEFAULT with a fresh handle of exactly those bytes; a
//   successful MSG_SET replaces them; an unknown capability fails;
// - enabled, it announces `events` (MSG_XFERREADY, MSG_CLOSEDSREQ...) one by one through
//   thread messages that come back to it through DAT_EVENT, as Wine's manager does;
// - it transfers `native` images, writes files, and delivers `strips` into the buffer the
//   library hands over; MSG_ENDXFER answers the next of `pending`.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "page_model.h"
#include "twain/session.h"
#include "twain/test_seam.h"

namespace twtest {

using Bytes = std::vector<std::uint8_t>;

struct Call {
    bool toSource;  // destination was a source identity, not the manager
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
};
bool operator==(const Call& a, const Call& b);
std::string Describe(const Call& c);
inline void PrintTo(const Call& c, std::ostream* os)
{
    *os << Describe(c);
}

using Fill = std::function<void(void* data)>;

// The answer of one capability.
struct Answer {
    TW_UINT16 conType = TWON_ONEVALUE;
    Bytes bytes;
    bool nullHandle = false;  // succeed without a container
    bool unlockable = false;  // a handle without memory
    TW_UINT16 getRc = TWRC_SUCCESS;
    TW_UINT16 setRc = TWRC_SUCCESS;
};

struct CapCall {
    TW_UINT16 msg;
    TW_UINT16 cap;
    TW_UINT16 conType;
    Bytes bytes;  // the container sent with MSG_SET
};

struct ScriptedDsm {
    std::vector<Call> calls;

    // The manager
    std::vector<std::string> sources = {"Fake One", "Fake Two"};
    TW_UINT16 managerCondition = TWCC_SUCCESS;  // answered to DAT_STATUS by the manager
    TW_UINT16 sourceCondition = TWCC_SUCCESS;   // answered to DAT_STATUS by the source

    // Capabilities and the scan area
    std::map<TW_UINT16, Answer> caps;
    std::vector<CapCall> capCalls;
    std::vector<HGLOBAL> handedOut;  // every container handle given to the library
    HGLOBAL resetHandle = nullptr;   // answered to MSG_RESET when set
    TW_UINT16 layoutRc = TWRC_SUCCESS;
    TW_IMAGELAYOUT layout{};         // answered to MSG_GET / MSG_GETDEFAULT
    std::vector<std::pair<TW_UINT16, TW_IMAGELAYOUT>> layoutCalls;

    // Events the source announces after every MSG_ENABLEDS, one per thread message.
    std::vector<TW_UINT16> events;
    TW_USERINTERFACE enabledWith{};

    // Native transfers: the handle handed over (null: no handle), the answer.
    std::function<TW_HANDLE()> native;
    TW_UINT16 nativeRc = TWRC_XFERDONE;

    // File transfers
    TW_UINT16 fileRc = TWRC_XFERDONE;
    std::vector<TW_SETUPFILEXFER> fileSetups;

    // Memory transfers: the strips in order; after the last, the source answers
    // TWRC_FAILURE.
    TW_SETUPMEMXFER setup{0, 0, 0};
    TW_IMAGEINFO info{};
    std::deque<pagemodel::Strip> strips;
    std::vector<TW_MEMORY> memoryHandedOver;  // what the library set before each strip
    TW_PALETTE8 palette{};
    TW_UINT16 paletteRc = TWRC_SUCCESS;

    // Counts answered at MSG_ENDXFER in turn; 0 once used up. endRc answers it.
    std::deque<TW_UINT16> pending;
    TW_UINT16 endRc = TWRC_SUCCESS;
};
extern ScriptedDsm fake;

// Resets the library and the fake, and installs the fake (session state 2).
void InstallFake();
// Installs the fake and walks the session to the state (1 to 5) through the wrappers.
void Open(int state = TWAIN_SOURCE_OPEN);
// The answer to a triplet from now on (replacing an earlier rule for it); fill may
// change the data before the call returns.
void Script(bool toSource, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc, Fill fill = {});
// The container a capability answers with from now on.
void Script(TW_UINT16 cap, TW_UINT16 conType, Bytes bytes);
// Announces an event now (the source is enabled and posts it).
void Announce(TW_UINT16 twMessage);
// Forgets the rules scripted for triplets; the session stays where it is.
void ClearRules();
// A memory-transfer page: its image info, its strips and, for palette pages, a palette.
void ScriptPage(const pagemodel::PageSpec& page, int rowsPerStrip, pagemodel::Pad pad, bool doneOnLast);

// The calls made so far, without the events of the message hook.
std::vector<Call> CallsWithoutEvents();
// Whether a call of this triplet was made, and how often.
int CountOf(const Call& c);
// Capability calls of one message, in order.
std::vector<CapCall> Calls(TW_UINT16 msg);
// Whether a handle given to the library has been freed since.
bool Freed(HGLOBAL handle);

// Shorthands for the calls the tests expect.
constexpr Call ToManager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    return Call{false, dg, dat, msg};
}
constexpr Call ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    return Call{true, dg, dat, msg};
}
inline constexpr Call kOpenDsm = ToManager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM);
inline constexpr Call kCloseDsm = ToManager(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM);
inline constexpr Call kOpenDs = ToManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS);
inline constexpr Call kCloseDs = ToManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS);
inline constexpr Call kGetFirst = ToManager(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST);
inline constexpr Call kGetNext = ToManager(DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT);
inline constexpr Call kCapSet = ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET);
inline constexpr Call kStatus = ToSource(DG_CONTROL, DAT_STATUS, MSG_GET);
inline constexpr Call kEnable = ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS);
inline constexpr Call kDisable = ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS);
inline constexpr Call kEndXfer = ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER);
inline constexpr Call kReset = ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET);
inline constexpr Call kNative = ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET);
inline constexpr Call kSetupFile = ToSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET);
inline constexpr Call kFile = ToSource(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET);
inline constexpr Call kStrip = ToSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET);

// A packed DIB in a global block: width x height pixels of 24 bits, pixel (x, y) with
// blue x, green y, red x + y.
HGLOBAL MakeDib(int width, int height);

}  // namespace twtest
