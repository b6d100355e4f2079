// Enabling and disabling the source, its small Scan/Cancel dialog, the events the
// application passes down, and the signals sent back through the Source Manager.
#include "tools/vscanner/scanner.h"

#include <vector>

namespace vs {
namespace {
constexpr char kSignalClass[] = "VScannerSignal";
constexpr UINT kSignalMessage = WM_APP + 1;
constexpr UINT_PTR kScanTimer = 1;
constexpr int kTextId = 100;

HWND signalWindow = nullptr;
HWND dialog = nullptr;
bool classRegistered = false;
int scansDone = 0;  // announcements since enabling

using DsmEntry = TW_UINT16(WINAPI*)(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

void SendSignal(TW_UINT16 msg)
{
    if (state < kEnabled) {
        Log(std::string("signal ") + MsgName(msg) + " skipped: not enabled");
        return;
    }
    if (msg == MSG_XFERREADY && state != kEnabled) {
        Log(std::string("signal ") + MsgName(msg) + " skipped: images still pending");
        return;
    }
    HMODULE manager = GetModuleHandleA("twain_32.dll");
    auto entry = manager ? reinterpret_cast<DsmEntry>(reinterpret_cast<void*>(GetProcAddress(manager, "DSM_Entry")))
                         : nullptr;
    if (!entry) {
        Log(std::string("signal ") + MsgName(msg) + " failed: no Source Manager");
        return;
    }
    if (msg == MSG_XFERREADY) {
        state = kReady;
        pagesLeft = source ? source->pages : 0;
    }
    const TW_UINT16 rc = entry(&self, &application, DG_CONTROL, DAT_NULL, msg, nullptr);
    Log(std::string("signal ") + MsgName(msg) + " -> " + RcName(rc));
}

// One scan: MSG_XFERREADY, with or instead of MSG_CLOSEDSREQ as the profile says.
void Announce()
{
    ++scansDone;
    const CloseRequest close = source ? source->closeRequest : CloseRequest::None;
    if (close == CloseRequest::Before || close == CloseRequest::Instead)
        PostSignal(MSG_CLOSEDSREQ);
    if (close != CloseRequest::Instead)
        PostSignal(MSG_XFERREADY);
    if (close == CloseRequest::After)
        PostSignal(MSG_CLOSEDSREQ);
}

LRESULT CALLBACK SignalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kSignalMessage) {
        SendSignal(static_cast<TW_UINT16>(wParam));
        return 0;
    }
    if (message == WM_TIMER && wParam == kScanTimer) {
        KillTimer(window, kScanTimer);
        if (state == kEnabled) {
            Log("scan after " + std::to_string(source->scanDelay) + " ms");
            Announce();
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool EnsureSignalWindow()
{
    if (signalWindow)
        return true;
    if (!classRegistered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = SignalProc;
        wc.hInstance = module;
        wc.lpszClassName = kSignalClass;
        classRegistered = RegisterClassA(&wc) != 0;
    }
    signalWindow = CreateWindowExA(0, kSignalClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    return signalWindow != nullptr;
}

// A scan without anybody pressing Scan: at once, or after the profile's delay.
void ScheduleScan()
{
    if (source->scanDelay > 0 && EnsureSignalWindow())
        SetTimer(signalWindow, kScanTimer, static_cast<UINT>(source->scanDelay), nullptr);
    else
        Announce();
}

// An in-memory dialog template: caption, one line of text, Scan and Cancel.
void Words(std::vector<WORD>& t, const wchar_t* text)
{
    do
        t.push_back(static_cast<WORD>(*text));
    while (*text++);
}

void AddItem(std::vector<WORD>& t, DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls,
             const wchar_t* text)
{
    if (t.size() % 2)
        t.push_back(0);  // items start on a DWORD boundary
    DLGITEMTEMPLATE item{style | WS_CHILD | WS_VISIBLE, 0, x, y, cx, cy, id};
    const WORD* raw = reinterpret_cast<const WORD*>(&item);
    t.insert(t.end(), raw, raw + sizeof item / sizeof(WORD));
    t.push_back(0xFFFF);
    t.push_back(cls);
    Words(t, text);
    t.push_back(0);  // no creation data
}

std::vector<WORD> DialogTemplate()
{
    std::vector<WORD> t;
    DLGTEMPLATE head{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | WS_VISIBLE, 0, 3, 10, 10, 160, 60};
    const WORD* raw = reinterpret_cast<const WORD*>(&head);
    t.insert(t.end(), raw, raw + sizeof head / sizeof(WORD));
    t.push_back(0);  // no menu
    t.push_back(0);  // standard dialog class
    Words(t, L"Virtual Scanner");
    t.push_back(8);
    Words(t, L"MS Shell Dlg");
    AddItem(t, SS_LEFT, 8, 8, 144, 12, kTextId, 0x0082, L"Ready to scan.");
    AddItem(t, BS_DEFPUSHBUTTON | WS_TABSTOP, 24, 36, 50, 14, IDOK, 0x0080, L"Scan");
    AddItem(t, BS_PUSHBUTTON | WS_TABSTOP, 86, 36, 50, 14, IDCANCEL, 0x0080, L"Cancel");
    return t;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        if (source)
            SetDlgItemTextA(window, kTextId, source->name.c_str());
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        Log(LOWORD(wParam) == IDOK ? "dialog: Scan" : "dialog: Cancel");
        if (LOWORD(wParam) == IDOK)
            Announce();
        else
            PostSignal(MSG_CLOSEDSREQ);
        return TRUE;
    }
    if (message == WM_CLOSE) {
        PostSignal(MSG_CLOSEDSREQ);
        return TRUE;
    }
    return FALSE;
}

void OpenDialog()
{
    std::vector<WORD> t = DialogTemplate();
    dialog = CreateDialogIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATEA>(t.data()),
                                        static_cast<HWND>(ui.hParent), DialogProc, 0);
    AddDetail(dialog ? "dialog shown" : "dialog failed");
}

TW_UINT16 Enable(const TW_USERINTERFACE& request)
{
    if (state != kOpen)
        return Fail(TWCC_SEQERROR);
    if (source->enableAnswer == EnableAnswer::Failure)
        return Fail(source->enableFailure);
    ui = request;
    AddDetail(request.ShowUI ? "ShowUI=TRUE" : "ShowUI=FALSE");
    state = kEnabled;
    scansDone = 0;
    if (request.ShowUI)
        OpenDialog();
    if (!request.ShowUI || source->scanDelay >= 0)
        ScheduleScan();
    return source->enableAnswer == EnableAnswer::CheckStatus ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
}

TW_UINT16 Disable()
{
    if (state != kEnabled)
        return Fail(TWCC_SEQERROR);
    CloseUserInterface();
    if (signalWindow)
        KillTimer(signalWindow, kScanTimer);
    state = kOpen;
    return TWRC_SUCCESS;
}
}  // namespace

void BatchEnded()
{
    if (source->closeRequest == CloseRequest::Done)
        PostSignal(MSG_CLOSEDSREQ);
    else if (scansDone < source->scans && (!ui.ShowUI || source->scanDelay >= 0))
        ScheduleScan();
}

void PostSignal(TW_UINT16 msg)
{
    if (EnsureSignalWindow())
        PostMessageA(signalWindow, kSignalMessage, msg, 0);
    else
        Log("signal window could not be created");
}

void CloseUserInterface()
{
    if (dialog)
        DestroyWindow(dialog);
    dialog = nullptr;
}

void ReleaseWindows()
{
    CloseUserInterface();
    if (signalWindow)
        DestroyWindow(signalWindow);
    signalWindow = nullptr;
    if (classRegistered)
        UnregisterClassA(kSignalClass, module);
    classRegistered = false;
}

TW_UINT16 OnUserInterface(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (!source)
        return Fail(TWCC_SEQERROR);
    if (!data)
        return Fail(TWCC_BADVALUE);
    if (msg == MSG_ENABLEDS)
        return Enable(*static_cast<TW_USERINTERFACE*>(data));
    if (msg == MSG_DISABLEDS)
        return Disable();
    return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 OnEvent(pTW_IDENTITY, TW_UINT16 msg, void* data)
{
    if (msg != MSG_PROCESSEVENT || !data)
        return Fail(TWCC_BADPROTOCOL);
    if (state < kEnabled)
        return Fail(TWCC_SEQERROR);
    auto& event = *static_cast<TW_EVENT*>(data);
    event.TWMessage = MSG_NULL;
    auto* message = static_cast<MSG*>(event.pEvent);
    if (dialog && message && IsDialogMessageA(dialog, message))
        return TWRC_DSEVENT;
    return TWRC_NOTDSEVENT;
}

}  // namespace vs
