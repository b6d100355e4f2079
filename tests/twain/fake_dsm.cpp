#include "fake_dsm.h"

#include <cstring>
#include <map>
#include <tuple>

#include "twain/test_seam.h"

namespace twtest {

FakeDsm fake;

namespace {
struct Rule {
    TW_UINT16 rc;
    Fill fill;
};
using Key = std::tuple<bool, TW_UINT32, TW_UINT16, TW_UINT16>;
std::map<Key, Rule> rules;
std::size_t listPosition = 0;

void FillName(void* data, const std::string& name)
{
    auto* id = static_cast<TW_IDENTITY*>(data);
    std::strncpy(id->ProductName, name.c_str(), sizeof id->ProductName - 1);
}

// What the fake answers when no rule was scripted.
TW_UINT16 DefaultAnswer(const Call& c, void* data)
{
    if (c.dat == DAT_STATUS && data) {
        static_cast<TW_STATUS*>(data)->ConditionCode = c.toSource ? fake.sourceCondition : fake.managerCondition;
        return TWRC_SUCCESS;
    }
    if (!c.toSource && c.dat == DAT_IDENTITY) {
        if (c.msg == MSG_GETFIRST)
            listPosition = 0;
        if (c.msg == MSG_GETFIRST || c.msg == MSG_GETNEXT) {
            if (listPosition >= fake.sources.size())
                return TWRC_ENDOFLIST;
            FillName(data, fake.sources[listPosition++]);
        } else if ((c.msg == MSG_OPENDS || c.msg == MSG_GETDEFAULT) &&
                   static_cast<TW_IDENTITY*>(data)->ProductName[0] == '\0') {
            FillName(data, fake.sources.empty() ? "" : fake.sources.front());
        }
    }
    return TWRC_SUCCESS;
}

TW_UINT16 TW_CALLINGCONV Entry(pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                               TW_MEMREF data)
{
    const Call call{dest != nullptr, dg, dat, msg};
    fake.calls.push_back(call);
    auto rule = rules.find(Key{call.toSource, dg, dat, msg});
    if (rule == rules.end())
        return DefaultAnswer(call, data);
    Rule copy = rule->second;  // the fill may script again
    if (copy.fill)
        copy.fill(data);
    return copy.rc;
}
}  // namespace

bool operator==(const Call& a, const Call& b)
{
    return a.toSource == b.toSource && a.dg == b.dg && a.dat == b.dat && a.msg == b.msg;
}

std::string Describe(const Call& c)
{
    return std::string(c.toSource ? "source " : "manager ") + std::to_string(c.dg) + "/" + std::to_string(c.dat) +
           "/" + std::to_string(c.msg);
}

void InstallFake()
{
    TWAIN_ResetSessionForTest();
    rules.clear();
    listPosition = 0;
    fake = FakeDsm{};
    TWAIN_InstallManagerEntryForTest(Entry);
}

void Script(bool toSource, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc, Fill fill)
{
    rules[Key{toSource, dg, dat, msg}] = Rule{rc, std::move(fill)};
}

std::vector<Call> CallsWithoutEvents()
{
    std::vector<Call> result;
    for (const Call& c : fake.calls) {
        if (!(c.dat == DAT_EVENT && c.msg == MSG_PROCESSEVENT))
            result.push_back(c);
    }
    return result;
}

Call ToManager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    return Call{false, dg, dat, msg};
}

Call ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    return Call{true, dg, dat, msg};
}

}  // namespace twtest
