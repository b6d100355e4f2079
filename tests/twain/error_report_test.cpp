// The recorded error, its report as the user sees it, the condition-code query, and
// the library's assertions.
#include <gtest/gtest.h>

#include <regex>

#include "support/box_watch.h"
#include "scripted_dsm.h"

using boxes::BoxWatcher;
using boxes::SeenBox;

namespace twtest {
namespace {

class ErrorReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallFake();
        TWAIN_SuppressErrorBoxes(false);
    }
    void TearDown() override
    {
        TWAIN_SuppressErrorBoxes(false);
        TWAIN_ResetSessionForTest();
    }

    // Shows the report and answers the box; the text, or nothing when no box came.
    static std::vector<SeenBox> Report(const char* text)
    {
        BoxWatcher watcher;
        TWAIN_ReportLastError(text);
        return watcher.Seen();
    }

    // A failing MSG_OPENDS whose status is the given condition code.
    static void FailOpen(TW_UINT16 condition)
    {
        fake.managerCondition = condition;
        Script(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE);
        TWAIN_OpenDefaultSource(nullptr);
    }
};

TEST_F(ErrorReport, FailedOpenGivesTheFourLineReport)
{
    FailOpen(TWCC_NODS);
    auto seen = Report("Unable to open default Data Source.");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "TWAIN Error");
    EXPECT_EQ(seen[0].text,
              "Unable to open default Data Source.\nTWAIN Source Manager operation failed\n"
              "RC:   TWRC_FAILURE\nCC:   TWCC_NODS (No Data Source)");
}

TEST_F(ErrorReport, NothingRecordedGivesNoDetails)
{
    auto seen = Report(nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "[no details available]");
    seen = Report("");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "[no details available]");
}

TEST_F(ErrorReport, CodesWithoutTwainCodesHaveNoCodeLines)
{
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {TWERR_CANCELLED, "Operation cancelled by user"},
        {TWERR_NOT_STATE_4, "TWAIN session not in State 4 (Source Open)"},
        {TWERR_NO_COMMON_VALUES, "App and source found NO values in common"},
        {1, ""},
        {42, "Error 42 (undefined)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        TWAIN_ClearError();
        lastResult = TWRC_FAILURE;
        TWAIN_RecordError(c.code);
        EXPECT_EQ(errorResult, 0);
        EXPECT_EQ(errorCondition, 0);
        auto seen = Report("Scan");
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, std::string("Scan\n") + c.text);
    }
}

TEST_F(ErrorReport, FirstErrorWins)
{
    FailOpen(TWCC_NODS);
    fake.managerCondition = TWCC_LOWMEMORY;
    Script(false, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_SUCCESS);
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    fake.sourceCondition = TWCC_BADVALUE;
    Script(true, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_FAILURE);
    EXPECT_FALSE(TWAIN_EnableSource(nullptr));
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_DSM_OPERATION);
    EXPECT_EQ(errorCondition, TWCC_NODS);
    TWAIN_ClearError();
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_NONE);
    EXPECT_FALSE(TWAIN_EnableSource(nullptr));
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_DS_OPERATION);
    EXPECT_EQ(errorCondition, TWCC_BADVALUE);
}

TEST_F(ErrorReport, OperationErrorFromTheSourceIsNotRepeated)
{
    FailOpen(TWCC_OPERATIONERROR);
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_DSM_OPERATION);
    EXPECT_TRUE(Report("Unable to open default Data Source.").empty());
    // The same condition with another return code is shown.
    TWAIN_ClearError();
    lastResult = TWRC_CHECKSTATUS;
    nState = TWAIN_SM_OPEN;
    TWAIN_RecordError(TWERR_CAP_SET);
    auto seen = Report(nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text,
              "DAT_CAPABILITY/MSG_SET failed\nRC:   TWRC_CHECKSTATUS ('tried hard')\n"
              "CC:   TWCC_OPERATIONERROR (DS/DSM reported error, app shouldn't)");
}

TEST_F(ErrorReport, SuppressionSilencesEverythingButKeepsTheCode)
{
    EXPECT_FALSE(TWAIN_SuppressErrorBoxes(true));
    FailOpen(TWCC_NODS);
    EXPECT_TRUE(Report("Unable to open default Data Source.").empty());
    BoxWatcher watcher;
    TWAIN_ErrorBox("direct");
    TWAIN_ResolveParentWindow(reinterpret_cast<HWND>(0x4321));
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(TWAIN_GetLastErrorCode(), TWERR_DSM_OPERATION);
    EXPECT_TRUE(TWAIN_SuppressErrorBoxes(false));
}

TEST_F(ErrorReport, ReportIsCutToItsBuffer)
{
    FailOpen(TWCC_NODS);
    const std::string text(300, 't');
    auto seen = Report(text.c_str());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, std::string(255, 't'));
}

TEST_F(ErrorReport, CodesOutsideTheTablesAreShownByNumber)
{
    EXPECT_STREQ(TWAIN_ResultText(TWRC_DATANOTAVAILABLE), "TWRC_DATANOTAVAILABLE");
    EXPECT_STREQ(TWAIN_ResultText(12), "12 (undefined)");
    EXPECT_STREQ(TWAIN_ConditionText(TWCC_CAPSEQERROR), "TWCC_CAPSEQERROR (Cap has dependancy on other cap)");
    EXPECT_STREQ(TWAIN_ConditionText(8), "8 (undefined)");
    EXPECT_STREQ(TWAIN_ConditionText(TWCC_PAPERJAM), "20 (undefined)");
    FailOpen(TWCC_PAPERJAM);
    auto seen = Report(nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "TWAIN Source Manager operation failed\nRC:   TWRC_FAILURE\nCC:   20 (undefined)");
}

TEST_F(ErrorReport, ConditionQueryAsksTheRightPlaceAndKeepsTheResult)
{
    struct Case {
        int state;
        bool asked;
        bool toSource;
        TW_UINT16 expected;
    };
    fake.managerCondition = TWCC_NODS;
    fake.sourceCondition = TWCC_BADCAP;
    const Case cases[] = {
        {TWAIN_SM_LOADED, false, false, TWCC_BUMMER},
        {TWAIN_SM_OPEN, true, false, TWCC_NODS},
        {TWAIN_SOURCE_OPEN, true, true, TWCC_BADCAP},
        {TWAIN_TRANSFERRING, true, true, TWCC_BADCAP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        nState = c.state;
        fake.calls.clear();
        lastResult = TWRC_CANCEL;
        EXPECT_EQ(TWAIN_GetConditionCode(), c.expected);
        EXPECT_EQ(TWAIN_GetResultCode(), TWRC_CANCEL);
        ASSERT_EQ(fake.calls.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(fake.calls[0], (Call{c.toSource, DG_CONTROL, DAT_STATUS, MSG_GET}));
        }
    }
}

TEST_F(ErrorReport, ResultCodeIsSignExtended)
{
    nState = TWAIN_SOURCE_OPEN;
    Script(true, DG_CONTROL, DAT_CAPABILITY, MSG_GET, 0x8001);
    TW_CAPABILITY cap{};
    TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    EXPECT_EQ(TWAIN_GetResultCode(), -32767);
}

// A call into the source below state 4 breaks the session's own rule: it is shown as
// an assertion, refused, and the program goes on.
TEST_F(ErrorReport, AssertionIsShownAndTheCallRefused)
{
    nState = TWAIN_SM_OPEN;
    TW_CAPABILITY cap{};
    BoxWatcher watcher;
    EXPECT_FALSE(TWAIN_CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(TWAIN_GetResultCode(), TWRC_FAILURE);
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_TRUE(std::regex_match(watcher.Seen()[0].text,
                                 std::regex("Assertion failed: nState >= TWAIN_SOURCE_OPEN, file acquira, line [0-9]+")))
        << watcher.Seen()[0].text;
}

// A session found in a state its transitions rule out (here 7 where a transfer step
// ends) shows the assertion; the session is walked down to a closed source, through a
// source that will not even end its transfer, and the program goes on.
TEST_F(ErrorReport, FailedAssertionWalksTheSessionDown)
{
    ASSERT_TRUE(TWAIN_OpenDefaultSource(nullptr));
    nState = TWAIN_TRANSFERRING;
    Script(true, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, TWRC_FAILURE);
    fake.calls.clear();
    BoxWatcher watcher;
    EXPECT_FALSE(TWAIN_ASSERT(nState == TWAIN_TRANSFER_READY || nState == TWAIN_SOURCE_ENABLED));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text.rfind("Assertion failed: nState == TWAIN_TRANSFER_READY || nState == "
                                           "TWAIN_SOURCE_ENABLED, file acquira, line ",
                                           0),
              0u);
    EXPECT_EQ(TWAIN_GetState(), TWAIN_SM_OPEN);
    EXPECT_EQ(CallsWithoutEvents(),
              (std::vector<Call>{ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER),
                                 ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET),
                                 ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS),
                                 ToManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS)}));
}

}  // namespace
}  // namespace twtest
