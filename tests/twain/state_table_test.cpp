// The state rules of the two call wrappers, one case per row.
#include <gtest/gtest.h>

#include "scripted_dsm.h"
#include "twain/test_seam.h"

#include <cstring>

namespace twtest {
namespace {

struct SourceRow {
    const char* name;
    int from;
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    TW_UINT16 rc;
    TW_UINT16 twMessage;  // what the source writes into TW_EVENT / TW_PENDINGXFERS.Count
    int stripsBefore;
    int to;
    bool outcome;
    int error;
};

constexpr TW_UINT16 kNone = 0;

const SourceRow kSourceRows[] = {
    {"event xferready", 5, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, MSG_XFERREADY, 0, 6, true, 0},
    {"event consumed", 5, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, MSG_NULL, 0, 5, true, 0},
    {"event not the source's", 5, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT, MSG_NULL, 0, 5, false, 0},
    {"xferready without dsevent", 5, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT, MSG_XFERREADY, 0, 6,
     false, 0},
    {"closedsreq", 5, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT, MSG_CLOSEDSREQ, 0, 5, true, 0},
    {"endxfer more", 7, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, TWRC_SUCCESS, 2, 0, 6, true, 0},
    {"endxfer none left", 7, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, TWRC_SUCCESS, 0, 0, 5, true, 0},
    {"endxfer unknown count", 7, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, TWRC_SUCCESS, 0xFFFF, 0, 6, true, 0},
    {"endxfer refused", 7, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, TWRC_FAILURE, 0, 0, 7, false, 0},
    {"reset", 6, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, TWRC_SUCCESS, 0, 0, 5, true, 0},
    {"reset refused", 6, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, TWRC_FAILURE, 0, 0, 6, false, 0},
    {"setup memxfer", 6, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, TWRC_SUCCESS, kNone, 3, 6, true, 0},
    {"enable failure", 4, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_FAILURE, kNone, 0, 4, false,
     TWERR_DS_OPERATION},
    {"enable success", 4, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_SUCCESS, kNone, 0, 5, true, 0},
    {"enable checkstatus", 4, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_CHECKSTATUS, kNone, 0, 5, true, 0},
    {"enable cancel", 4, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_CANCEL, kNone, 0, 5, true, 0},
    {"disable", 5, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_SUCCESS, kNone, 0, 4, true, 0},
    {"disable refused", 5, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_FAILURE, kNone, 0, 5, false, 0},
    {"native done", 6, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_XFERDONE, kNone, 0, 7, true, 0},
    {"native cancel", 6, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_CANCEL, kNone, 0, 7, false, 0},
    {"native failure", 6, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_FAILURE, kNone, 0, 6, false, 0},
    {"native success is no image", 6, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_SUCCESS, kNone, 0, 6, false, 0},
    {"file done", 6, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, TWRC_XFERDONE, kNone, 0, 7, true, 0},
    {"file cancel", 6, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, TWRC_CANCEL, kNone, 0, 7, false, 0},
    {"file failure", 6, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, TWRC_FAILURE, kNone, 0, 6, false, 0},
    {"strip", 6, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_SUCCESS, kNone, 0, 7, true, 0},
    {"last strip", 7, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_XFERDONE, kNone, 2, 7, true, 0},
    {"first strip fails", 6, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_FAILURE, kNone, 0, 6, false, 0},
    {"later strip fails", 7, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_FAILURE, kNone, 2, 7, false, 0},
    {"strip cancel", 7, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_CANCEL, kNone, 2, 7, false, 0},
    {"strip other", 6, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_CHECKSTATUS, kNone, 0, 6, false, 0},
    {"capability", 4, DG_CONTROL, DAT_CAPABILITY, MSG_GET, TWRC_SUCCESS, kNone, 0, 4, true, 0},
    {"capability refused", 4, DG_CONTROL, DAT_CAPABILITY, MSG_SET, TWRC_CHECKSTATUS, kNone, 0, 4, false, 0},
    {"image info", 6, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, TWRC_SUCCESS, kNone, 0, 6, true, 0},
};

class SourceStateTable : public ::testing::TestWithParam<SourceRow> {};

// The data each triplet carries, with what the scripted source writes into it.
union Data {
    TW_EVENT event;
    TW_PENDINGXFERS pending;
    TW_IMAGEMEMXFER mx;
    TW_USERINTERFACE ui;
    TW_CAPABILITY cap;
    TW_SETUPMEMXFER setup;
    TW_IMAGEINFO info;
    TW_HANDLE handle;
};

TEST_P(SourceStateTable, MovesStateAndAnswersOutcome)
{
    const SourceRow& row = GetParam();
    InstallFake();
    TWAIN_SuppressErrorBoxes(true);
    nState = row.from;
    stripCount = row.stripsBefore;
    const TW_UINT16 written = row.twMessage;
    Script(true, row.dg, row.dat, row.msg, row.rc, [&row, written](void* data) {
        if (row.dat == DAT_EVENT)
            static_cast<TW_EVENT*>(data)->TWMessage = written;
        else if (row.dat == DAT_PENDINGXFERS)
            static_cast<TW_PENDINGXFERS*>(data)->Count = written;
    });
    Data data{};
    breakLoop = false;

    const bool outcome = TWAIN_CallSource(row.dg, row.dat, row.msg, &data);

    EXPECT_EQ(outcome, row.outcome);
    EXPECT_EQ(TWAIN_GetState(), row.to);
    EXPECT_EQ(TWAIN_GetResultCode(), row.rc);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), row.error);
    ASSERT_FALSE(fake.calls.empty());
    EXPECT_EQ(fake.calls.front(), ToSource(row.dg, row.dat, row.msg));
    TWAIN_SuppressErrorBoxes(false);
}

INSTANTIATE_TEST_SUITE_P(Rows, SourceStateTable, ::testing::ValuesIn(kSourceRows),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(SourceStateTableDetails, StripCountFollowsStripsAndSetup)
{
    InstallFake();
    nState = TWAIN_TRANSFER_READY;
    TW_SETUPMEMXFER setup{};
    stripCount = 5;
    EXPECT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    EXPECT_EQ(stripCount, 0);
    Script(true, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_SUCCESS);
    TW_IMAGEMEMXFER mx{};
    EXPECT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx));
    EXPECT_TRUE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx));
    EXPECT_EQ(stripCount, 2);
    Script(true, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_CANCEL);
    breakLoop = false;
    EXPECT_FALSE(TWAIN_CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx));
    EXPECT_TRUE(breakLoop);  // a cancelled strip stops the modal loop
}

TEST(SourceStateTableDetails, MemoryTransferRequestIsPresetButKeepsItsBuffer)
{
    InstallFake();
    nState = TWAIN_TRANSFER_READY;
    TW_IMAGEMEMXFER seen{};
    Script(true, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_SUCCESS,
           [&seen](void* data) { seen = *static_cast<TW_IMAGEMEMXFER*>(data); });
    char buffer[16];
    TW_IMAGEMEMXFER mx{};
    mx.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    mx.Memory.Length = sizeof buffer;
    mx.Memory.TheMem = buffer;
    TWAIN_CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx);
    EXPECT_EQ(seen.Compression, TWON_DONTCARE16);
    for (TW_UINT32 field : {seen.BytesPerRow, seen.Columns, seen.Rows, seen.XOffset, seen.YOffset, seen.BytesWritten})
        EXPECT_EQ(field, TWON_DONTCARE32);
    EXPECT_EQ(seen.Memory.TheMem, buffer);
    EXPECT_EQ(seen.Memory.Length, sizeof buffer);
    EXPECT_EQ(seen.Memory.Flags, TWMF_APPOWNS | TWMF_POINTER);
}

TEST(SourceStateTableDetails, WithoutManagerNothingIsCalled)
{
    InstallFake();
    TWAIN_InstallManagerEntryForTest(nullptr);
    nState = TWAIN_SOURCE_OPEN;
    TW_CAPABILITY cap{};
    lastResult = TWRC_SUCCESS;
    EXPECT_FALSE(TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_EQ(TWAIN_GetResultCode(), TWRC_FAILURE);
    lastResult = TWRC_SUCCESS;
    EXPECT_FALSE(TWAIN_CallSourceManager(DG_CONTROL, DAT_STATUS, MSG_GET, &cap));
    EXPECT_EQ(TWAIN_GetResultCode(), TWRC_FAILURE);
    EXPECT_TRUE(fake.calls.empty());
}

struct ManagerRow {
    const char* name;
    int from;
    TW_UINT16 dat;
    TW_UINT16 msg;
    TW_UINT16 rc;
    int to;
    int error;
};

const ManagerRow kManagerRows[] = {
    {"open source", 3, DAT_IDENTITY, MSG_OPENDS, TWRC_SUCCESS, 4, 0},
    {"open source fails", 3, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE, 3, TWERR_DSM_OPERATION},
    {"close source", 4, DAT_IDENTITY, MSG_CLOSEDS, TWRC_SUCCESS, 3, 0},
    {"close source fails", 4, DAT_IDENTITY, MSG_CLOSEDS, TWRC_FAILURE, 4, 0},
    {"open manager", 2, DAT_PARENT, MSG_OPENDSM, TWRC_SUCCESS, 3, 0},
    {"open manager fails", 2, DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE, 2, 0},
    {"close manager", 3, DAT_PARENT, MSG_CLOSEDSM, TWRC_SUCCESS, 2, 0},
    {"close manager fails", 3, DAT_PARENT, MSG_CLOSEDSM, TWRC_FAILURE, 3, 0},
    {"list", 3, DAT_IDENTITY, MSG_GETFIRST, TWRC_SUCCESS, 3, 0},
    {"list ends", 3, DAT_IDENTITY, MSG_GETNEXT, TWRC_ENDOFLIST, 3, 0},
};

class ManagerStateTable : public ::testing::TestWithParam<ManagerRow> {};

TEST_P(ManagerStateTable, MovesStateOnSuccessOnly)
{
    const ManagerRow& row = GetParam();
    InstallFake();
    nState = row.from;
    Script(false, DG_CONTROL, row.dat, row.msg, row.rc);
    union {
        TW_IDENTITY id;
        HWND window;
    } data{};
    EXPECT_EQ(TWAIN_CallSourceManager(DG_CONTROL, row.dat, row.msg, &data), row.rc == TWRC_SUCCESS);
    EXPECT_EQ(TWAIN_GetState(), row.to);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), row.error);
}

INSTANTIATE_TEST_SUITE_P(Rows, ManagerStateTable, ::testing::ValuesIn(kManagerRows),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(ManagerStateTableDetails, OpenedIdentityIsKeptTerminated)
{
    InstallFake();
    nState = TWAIN_SM_OPEN;
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_SUCCESS, [](void* data) {
        auto* id = static_cast<TW_IDENTITY*>(data);
        id->Id = 77;
        std::memset(id->ProductName, 'x', sizeof id->ProductName);  // no terminator
    });
    TW_IDENTITY request{};
    ASSERT_TRUE(TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &request));
    TW_IDENTITY copy{};
    EXPECT_EQ(TWAIN_GetSourceIdentity(&copy), 156);
    EXPECT_EQ(copy.Id, 77u);
    EXPECT_EQ(std::string(TWAIN_SourceName()), std::string(33, 'x'));
}

}  // namespace
}  // namespace twtest

namespace twtest {
namespace {

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C; a vectored handler sees its text.
std::vector<std::string> debugOutput;

LONG CALLBACK CaptureDebugOutput(EXCEPTION_POINTERS* e)
{
    if (e->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C && e->ExceptionRecord->NumberParameters >= 2)
        debugOutput.emplace_back(reinterpret_cast<const char*>(e->ExceptionRecord->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(NestedCalls, CallIntoTheSourceFromInsideOneIsTracedAndMade)
{
    InstallFake();
    nState = TWAIN_SOURCE_ENABLED;
    void* handler = AddVectoredExceptionHandler(1, CaptureDebugOutput);
    debugOutput.clear();
    TW_CAPABILITY cap{};
    TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    EXPECT_TRUE(debugOutput.empty());

    // While the source handles an event, a window procedure calls into it again.
    Script(true, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT, [](void*) {
        TW_STATUS status{};
        EXPECT_TRUE(TWAIN_CallSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    });
    fake.calls.clear();
    TW_EVENT event{};
    TWAIN_CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(debugOutput, (std::vector<std::string>{" - blocked\n"}));
    EXPECT_EQ(fake.calls, (std::vector<Call>{ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT),
                                             ToSource(DG_CONTROL, DAT_STATUS, MSG_GET)}));
    EXPECT_EQ(callDepth, 0);
    EXPECT_EQ(TWAIN_GetResultCode(), TWRC_NOTDSEVENT);  // the outer call's answer
}

}  // namespace
}  // namespace twtest
