#include "wine_session.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "twain/capability.h"

namespace twtest {
namespace {
std::string TempFile(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "pgx_vscanner_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}
}  // namespace

void WineSession::SetUp()
{
    profilePath = TempFile("profile.txt");
    logPath = TempFile("log.txt");
    DeleteFileA(logPath.c_str());
    SetEnvironmentVariableA("VSCANNER_PROFILE", profilePath.c_str());
    SetEnvironmentVariableA("VSCANNER_LOG", logPath.c_str());
    UseProfile("[source]\nname = Alpha\n[source]\nname = Beta\n[source]\nname = Gamma\n");
    TWAIN_SuppressErrorBoxes(false);
    TWAIN_SetHideUI(false);
    TWAIN_ClearError();
    closeRequested = false;  // cleared by the acquisition step in the program
    // Tests that walk the protocol by hand need an announced image to stay pending
    // (state 6) instead of being transferred in the hook: no mechanism is chosen until
    // an acquisition negotiates one.
    xferMech = kNoMechanism;
    TWAIN_FreeDib(hDib);
    hDib = nullptr;
}

void WineSession::TearDown()
{
    if (HasFailure()) {
        for (const std::string& line : Log())
            std::printf("  scanner: %s\n", line.c_str());
    }
    EXPECT_TRUE(TWAIN_UnloadSourceManager());
    EXPECT_EQ(TWAIN_GetState(), TWAIN_PRESESSION);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    DeleteFileA(profilePath.c_str());
    DeleteFileA(logPath.c_str());
}

void WineSession::UseProfile(const std::string& text)
{
    std::ofstream(profilePath, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> WineSession::Log() const
{
    std::ifstream in(logPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> WineSession::SessionLog() const
{
    std::vector<std::string> lines;
    for (const std::string& line : Log()) {
        if (line.rfind("DG_CONTROL/DAT_IDENTITY/MSG_GET ", 0) == 0 ||
            line == "DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT -> TWRC_NOTDSEVENT")
            continue;
        lines.push_back(line);
    }
    return lines;
}

bool WineSession::Pump(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            continue;
        }
        lastPumpedMessage = message.message;
        if (!TWAIN_MessageHook(&message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

void WineSession::ReachTransferReady()
{
    TWAIN_SetHideUI(true);
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    ASSERT_TRUE(TWAIN_EnableSource(nullptr));
    ASSERT_TRUE(Pump([] { return TWAIN_GetState() == TWAIN_TRANSFER_READY; }));
}

}  // namespace twtest
