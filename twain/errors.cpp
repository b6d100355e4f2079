// The recorded error of an acquisition, its report, the condition-code query and the
// library's assertions.
#include "twain/session.h"

#include <array>
#include <cstdio>
#include <string_view>

int errorCode = TWERR_NONE;
TW_UINT16 errorResult = 0;
TW_UINT16 errorCondition = 0;

namespace {
constexpr int kReportSize = 256;

constexpr std::array<const char*, 20> kErrorTexts = {
    "[no details available]",
    "",
    "DAT_CAPABILITY/MSG_GET failed",
    "DAT_CAPABILITY/MSG_SET failed",
    "TWAIN Source Manager operation failed",
    "DataSource operation failed",
    "Image Transfer failed",
    "",
    "Opening TWAIN Source Manager failed",
    "Unable to open default TWAIN DataSource",
    "TWAIN session not in State 4 (Source Open)",
    "MSG_GET returned a NULL container handle",
    "MSG_GET returned an invalid container handle",
    "Returned container is not valid type",
    "Returned container has invalid ItemType",
    "Returned container is empty",
    "App and source found NO values in common",
    "ACQUIRA function called with invalid window handle",
    "ACQUIRA proxy window create failed",
    "Operation cancelled by user",
};

constexpr std::array<const char*, 10> kResultTexts = {
    "TWRC_SUCCESS",     "TWRC_FAILURE",  "TWRC_CHECKSTATUS ('tried hard')", "TWRC_CANCEL",
    "TWRC_DSEVENT",     "TWRC_NOTDSEVENT", "TWRC_XFERDONE",                 "TWRC_ENDOFLIST",
    "TWRC_INFONOTSUPPORTED", "TWRC_DATANOTAVAILABLE",
};

constexpr std::array<const char*, 16> kConditionTexts = {
    "TWCC_SUCCESS",
    "TWCC_BUMMER (Failure due to unknown causes)",
    "TWCC_LOWMEMORY",
    "TWCC_NODS (No Data Source)",
    "TWCC_MAXCONNECTIONS (DS is connected to max possible apps)",
    "TWCC_OPERATIONERROR (DS/DSM reported error, app shouldn't)",
    "TWCC_BADCAP (Unknown capability)",
    "7 (undefined)",
    "8 (undefined)",
    "TWCC_BADPROTOCOL (Unrecognized triplet)",
    "TWCC_BADVALUE (Data parameter out of range)",
    "TWCC_SEQERROR (Triplet out of sequence)",
    "TWCC_BADDEST (Unknown dest. App/Src in DSM_Entry)",
    "TWCC_CAPUNSUPPORTED (Cap not supported by source)",
    "TWCC_CAPBADOPERATION (Operation not supported by cap)",
    "TWCC_CAPSEQERROR (Cap has dependancy on other cap)",
};

// Texts for values the tables do not cover: the number, as the table's own gaps show it.
char outOfTableText[32];

const char* NumberText(const char* format, long value)
{
    std::snprintf(outOfTableText, sizeof outOfTableText, format, value);
    return outOfTableText;
}

bool HasTwainCodes(int code)
{
    return code >= TWERR_CAP_GET && code <= TWERR_TRANSFER;
}

// Appends text to the report, cutting what does not fit.
void Append(char* report, std::size_t& used, std::string_view text)
{
    for (char c : text) {
        if (used + 1 >= kReportSize)
            break;
        report[used++] = c;
    }
    report[used] = '\0';
}

bool recovering = false;
}  // namespace

const char* TWAIN_ErrorText(int code)
{
    if (code >= 0 && code < static_cast<int>(kErrorTexts.size()))
        return kErrorTexts[code];
    return NumberText("Error %ld (undefined)", code);
}

const char* TWAIN_ResultText(TW_UINT16 result)
{
    if (result < kResultTexts.size())
        return kResultTexts[result];
    return NumberText("%ld (undefined)", result);
}

const char* TWAIN_ConditionText(TW_UINT16 condition)
{
    if (condition < kConditionTexts.size())
        return kConditionTexts[condition];
    return NumberText("%ld (undefined)", condition);
}

void TWAIN_RecordError(int code)
{
    if (errorCode != TWERR_NONE)
        return;
    errorCode = code;
    if (HasTwainCodes(code)) {
        errorResult = lastResult;
        errorCondition = TWAIN_GetConditionCode();
    } else {
        errorResult = 0;
        errorCondition = 0;
    }
}

void TWAIN_ClearError()
{
    errorCode = TWERR_NONE;
    errorResult = 0;
    errorCondition = 0;
}

int TWAIN_GetLastErrorCode()
{
    return errorCode;
}

TW_UINT16 TWAIN_GetConditionCode()
{
    const TW_UINT16 kept = lastResult;
    TW_STATUS status{};
    status.ConditionCode = TWCC_BUMMER;
    if (nState >= TWAIN_SOURCE_OPEN)
        TWAIN_CallSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    else if (nState == TWAIN_SM_OPEN)
        TWAIN_CallSourceManager(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    lastResult = kept;
    return status.ConditionCode;
}

void TWAIN_ReportLastError(const char* text)
{
    char report[kReportSize] = "";
    std::size_t used = 0;
    Append(report, used, text ? text : "");
    if (used > 0)
        Append(report, used, "\n");
    Append(report, used, TWAIN_ErrorText(errorCode));
    if (HasTwainCodes(errorCode)) {
        Append(report, used, "\nRC:   ");
        Append(report, used, TWAIN_ResultText(errorResult));
        Append(report, used, "\nCC:   ");
        Append(report, used, TWAIN_ConditionText(errorCondition));
    }
    // The source has already told the user about its own operation error.
    if (errorResult == TWRC_FAILURE && errorCondition == TWCC_OPERATIONERROR)
        return;
    TWAIN_ErrorBox(report);
}

bool TWAIN_AssertionFailed(const char* expression, int line)
{
    char text[kReportSize];
    std::snprintf(text, sizeof text, "Assertion failed: %s, file acquira, line %d", expression, line);
    TWAIN_ErrorBox(text);
    // A source answered out of sequence. Ending the process would lose whatever image
    // the caller holds; close the source instead, so the session is in a state that
    // every later call starts from.
    if (!recovering && nState >= TWAIN_SOURCE_OPEN) {
        recovering = true;
        TWAIN_CloseSource();
        recovering = false;
    }
    return false;
}
