// The scanner's log: one line per triplet, appended to the file named by VSCANNER_LOG
// (no variable, no log). The file is opened for each line so that a reader, or a test
// that deletes it between sessions, never waits for us.
#include "tools/vscanner/scanner.h"

#include <cstdio>

namespace vs {
namespace {
std::string detail;

struct CodeName {
    unsigned code;
    const char* name;
};

constexpr CodeName kDats[] = {
    {DAT_NULL, "DAT_NULL"},           {DAT_CAPABILITY, "DAT_CAPABILITY"},
    {DAT_EVENT, "DAT_EVENT"},         {DAT_IDENTITY, "DAT_IDENTITY"},
    {DAT_PARENT, "DAT_PARENT"},       {DAT_PENDINGXFERS, "DAT_PENDINGXFERS"},
    {DAT_SETUPMEMXFER, "DAT_SETUPMEMXFER"}, {DAT_SETUPFILEXFER, "DAT_SETUPFILEXFER"},
    {DAT_STATUS, "DAT_STATUS"},       {DAT_USERINTERFACE, "DAT_USERINTERFACE"},
    {DAT_XFERGROUP, "DAT_XFERGROUP"}, {DAT_IMAGEINFO, "DAT_IMAGEINFO"},
    {DAT_IMAGELAYOUT, "DAT_IMAGELAYOUT"}, {DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER"},
    {DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER"}, {DAT_IMAGEFILEXFER, "DAT_IMAGEFILEXFER"},
    {DAT_PALETTE8, "DAT_PALETTE8"},
};

constexpr CodeName kMsgs[] = {
    {MSG_NULL, "MSG_NULL"},             {MSG_GET, "MSG_GET"},
    {MSG_GETCURRENT, "MSG_GETCURRENT"}, {MSG_GETDEFAULT, "MSG_GETDEFAULT"},
    {MSG_GETFIRST, "MSG_GETFIRST"},     {MSG_GETNEXT, "MSG_GETNEXT"},
    {MSG_SET, "MSG_SET"},               {MSG_RESET, "MSG_RESET"},
    {MSG_QUERYSUPPORT, "MSG_QUERYSUPPORT"}, {MSG_XFERREADY, "MSG_XFERREADY"},
    {MSG_CLOSEDSREQ, "MSG_CLOSEDSREQ"}, {MSG_CLOSEDSOK, "MSG_CLOSEDSOK"},
    {MSG_OPENDSM, "MSG_OPENDSM"},       {MSG_CLOSEDSM, "MSG_CLOSEDSM"},
    {MSG_OPENDS, "MSG_OPENDS"},         {MSG_CLOSEDS, "MSG_CLOSEDS"},
    {MSG_USERSELECT, "MSG_USERSELECT"}, {MSG_DISABLEDS, "MSG_DISABLEDS"},
    {MSG_ENABLEDS, "MSG_ENABLEDS"},     {MSG_ENABLEDSUIONLY, "MSG_ENABLEDSUIONLY"},
    {MSG_PROCESSEVENT, "MSG_PROCESSEVENT"}, {MSG_ENDXFER, "MSG_ENDXFER"},
};

constexpr CodeName kRcs[] = {
    {TWRC_SUCCESS, "TWRC_SUCCESS"},   {TWRC_FAILURE, "TWRC_FAILURE"},
    {TWRC_CHECKSTATUS, "TWRC_CHECKSTATUS"}, {TWRC_CANCEL, "TWRC_CANCEL"},
    {TWRC_DSEVENT, "TWRC_DSEVENT"},   {TWRC_NOTDSEVENT, "TWRC_NOTDSEVENT"},
    {TWRC_XFERDONE, "TWRC_XFERDONE"}, {TWRC_ENDOFLIST, "TWRC_ENDOFLIST"},
};

constexpr CodeName kCcs[] = {
    {TWCC_SUCCESS, "TWCC_SUCCESS"},   {TWCC_BUMMER, "TWCC_BUMMER"},
    {TWCC_LOWMEMORY, "TWCC_LOWMEMORY"}, {TWCC_NODS, "TWCC_NODS"},
    {TWCC_MAXCONNECTIONS, "TWCC_MAXCONNECTIONS"}, {TWCC_OPERATIONERROR, "TWCC_OPERATIONERROR"},
    {TWCC_BADCAP, "TWCC_BADCAP"},     {TWCC_BADPROTOCOL, "TWCC_BADPROTOCOL"},
    {TWCC_BADVALUE, "TWCC_BADVALUE"}, {TWCC_SEQERROR, "TWCC_SEQERROR"},
    {TWCC_BADDEST, "TWCC_BADDEST"},   {TWCC_CAPUNSUPPORTED, "TWCC_CAPUNSUPPORTED"},
    {TWCC_CAPBADOPERATION, "TWCC_CAPBADOPERATION"}, {TWCC_CAPSEQERROR, "TWCC_CAPSEQERROR"},
    {TWCC_DENIED, "TWCC_DENIED"},     {TWCC_PAPERJAM, "TWCC_PAPERJAM"},
    {TWCC_PAPERDOUBLEFEED, "TWCC_PAPERDOUBLEFEED"}, {TWCC_CHECKDEVICEONLINE, "TWCC_CHECKDEVICEONLINE"},
    {TWCC_FILEWRITEERROR, "TWCC_FILEWRITEERROR"},
};

constexpr CodeName kCaps[] = {
    {CAP_XFERCOUNT, "CAP_XFERCOUNT"},     {ICAP_COMPRESSION, "ICAP_COMPRESSION"},
    {ICAP_PIXELTYPE, "ICAP_PIXELTYPE"},   {ICAP_UNITS, "ICAP_UNITS"},
    {ICAP_XFERMECH, "ICAP_XFERMECH"},     {CAP_FEEDERENABLED, "CAP_FEEDERENABLED"},
    {CAP_FEEDERLOADED, "CAP_FEEDERLOADED"}, {CAP_AUTOFEED, "CAP_AUTOFEED"},
    {CAP_DUPLEX, "CAP_DUPLEX"},           {CAP_DUPLEXENABLED, "CAP_DUPLEXENABLED"},
    {ICAP_BITDEPTH, "ICAP_BITDEPTH"},     {ICAP_XRESOLUTION, "ICAP_XRESOLUTION"},
    {ICAP_YRESOLUTION, "ICAP_YRESOLUTION"}, {ICAP_PLANARCHUNKY, "ICAP_PLANARCHUNKY"},
};

// Known codes by name, others as their number.
template <std::size_t N>
const char* Lookup(const CodeName (&table)[N], unsigned code)
{
    for (const CodeName& c : table) {
        if (c.code == code)
            return c.name;
    }
    static char number[16];
    std::snprintf(number, sizeof number, "0x%04X", code);
    return number;
}
}  // namespace

const char* DgName(TW_UINT32 dg)
{
    return dg == DG_CONTROL ? "DG_CONTROL" : dg == DG_IMAGE ? "DG_IMAGE" : "DG_OTHER";
}

const char* DatName(TW_UINT16 dat)
{
    return Lookup(kDats, dat);
}

const char* MsgName(TW_UINT16 msg)
{
    return Lookup(kMsgs, msg);
}

const char* RcName(TW_UINT16 rc)
{
    return Lookup(kRcs, rc);
}

const char* CcName(TW_UINT16 cc)
{
    return Lookup(kCcs, cc);
}

std::string CapName(TW_UINT16 cap)
{
    return Lookup(kCaps, cap);
}

void AddDetail(const std::string& text)
{
    detail += " " + text;
}

std::string TakeDetail()
{
    std::string taken;
    taken.swap(detail);
    return taken;
}

void Log(const std::string& line)
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VSCANNER_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace vs
