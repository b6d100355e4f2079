#pragma once
// A scripted Source Manager (and the source behind it) for the library's unit tests,
// installed in place of DSM_Entry through the library's test seam.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "twain/session.h"
#include "twain/test_seam.h"

namespace twtest {

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

struct FakeDsm {
    std::vector<Call> calls;
    std::vector<std::string> sources = {"Fake One", "Fake Two"};
    TW_UINT16 managerCondition = TWCC_SUCCESS;  // answered to DAT_STATUS by the manager
    TW_UINT16 sourceCondition = TWCC_SUCCESS;   // answered to DAT_STATUS by the source
};
extern FakeDsm fake;

// Resets the library and the fake, and installs the fake (session state 2).
void InstallFake();
// The answer to a triplet from now on (replacing an earlier rule for it); fill may
// change the data before the call returns.
void Script(bool toSource, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc, Fill fill = {});
// The calls made so far, without the events of the message hook.
std::vector<Call> CallsWithoutEvents();

// Shorthands for the calls the tests expect.
Call ToManager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg);
Call ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg);

}  // namespace twtest
