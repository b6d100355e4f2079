// The record's document of several pages: paging through it, deleting and moving the page
// shown, adding the pages of a feeder batch, and clearing it. What is stored is what the
// window holds when Save Image or Exit/Save runs: every page, in this order.
#include "app/document.h"

#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib.h"
#include "resources/resource.h"

#include <utility>

namespace {
bool NoNextPage()
{
    return shownPage + 1 >= documentPages.size();
}

bool NoPreviousPage()
{
    return documentPages.empty() || shownPage == 0;
}

bool NoPage()
{
    return documentPages.empty();
}

template <int Step>
void Turn(HWND window)
{
    if (Step > 0 && !NoNextPage())
        ShowDocumentPage(window, shownPage + 1);
    else if (Step < 0 && !NoPreviousPage())
        ShowDocumentPage(window, shownPage - 1);
}

template <bool Last>
void GoToEnd(HWND window)
{
    if (!NoPage())
        ShowDocumentPage(window, Last ? documentPages.size() - 1 : 0);
}

void DeletePage(HWND window)
{
    if (!NoPage())
        ShowImage(window, nullptr);
}

template <int Step>
void MovePage(HWND window)
{
    if ((Step < 0 && NoPreviousPage()) || (Step > 0 && NoNextPage()))
        return;
    const size_t to = Step < 0 ? shownPage - 1 : shownPage + 1;
    std::swap(documentPages[shownPage], documentPages[to]);
    // The page shown moves with its place; what is drawn of it stays as it is.
    shownPage = to;
    UpdatePageTitle(window);
}

// Held like the page's turns: a save under way writes the pages in their order.
template <void (*Operation)(HWND), int Id>
void Held(HWND window)
{
    RunHeldCommand(window, Id, Operation);
}

constexpr CommandRow kCommands[] = {
    {CMD_NEXT_PAGE, Held<Turn<1>, CMD_NEXT_PAGE>},
    {CMD_PREVIOUS_PAGE, Held<Turn<-1>, CMD_PREVIOUS_PAGE>},
    {CMD_FIRST_PAGE, Held<GoToEnd<false>, CMD_FIRST_PAGE>},
    {CMD_LAST_PAGE, Held<GoToEnd<true>, CMD_LAST_PAGE>},
    {CMD_DELETE_PAGE, Held<DeletePage, CMD_DELETE_PAGE>},
    {CMD_MOVE_PAGE_EARLIER, Held<MovePage<-1>, CMD_MOVE_PAGE_EARLIER>},
    {CMD_MOVE_PAGE_LATER, Held<MovePage<1>, CMD_MOVE_PAGE_LATER>},
};

constexpr MenuRule kMenuRules[] = {
    {CMD_NEXT_PAGE, false, NoNextPage},          {CMD_PREVIOUS_PAGE, false, NoPreviousPage},
    {CMD_FIRST_PAGE, false, NoPreviousPage},     {CMD_LAST_PAGE, false, NoNextPage},
    {CMD_DELETE_PAGE, false, NoPage},            {CMD_MOVE_PAGE_EARLIER, false, NoPreviousPage},
    {CMD_MOVE_PAGE_LATER, false, NoNextPage},
};

// The keys a Windows user pages with: Ctrl with Page Up, Page Down, Home and End, with
// Shift to carry the page along, and Ctrl+Delete.
struct PageKey {
    UINT key;
    bool shift;
    int command;
};
constexpr PageKey kPageKeys[] = {
    {VK_NEXT, false, CMD_NEXT_PAGE},          {VK_PRIOR, false, CMD_PREVIOUS_PAGE},
    {VK_HOME, false, CMD_FIRST_PAGE},         {VK_END, false, CMD_LAST_PAGE},
    {VK_DELETE, false, CMD_DELETE_PAGE},      {VK_PRIOR, true, CMD_MOVE_PAGE_EARLIER},
    {VK_NEXT, true, CMD_MOVE_PAGE_LATER},
};
}  // namespace

std::span<const CommandRow> DocumentCommands()
{
    return kCommands;
}

std::span<const MenuRule> DocumentMenuRules()
{
    return kMenuRules;
}

bool PageByKey(HWND window, UINT key)
{
    if (GetKeyState(VK_CONTROL) >= 0)
        return false;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    for (const PageKey& row : kPageKeys)
        if (row.key == key && row.shift == shift) {
            RunCommand(window, row.command);
            return true;
        }
    return false;
}

void AddDocumentPage(HWND window, HGLOBAL dib, HGLOBAL before)
{
    if (!dib)
        return;
    // Each page of a batch is shown as it arrives, the window sized to it, as a scanned
    // page always was.
    documentPages.push_back(dib);
    ShowDocumentPage(window, documentPages.size() - 1, true);
    if (before != dib)
        undoDib = before;
}

void ClearDocument(HWND window)
{
    if (documentPages.empty())
        return;
    char question[kMessageTextSize];
    wsprintfA(question,
              documentPages.size() > 1
                  ? "Clear all %u pages from the window?\n\nThe image store keeps what it holds for this record "
                    "until Save Image or Exit/Save stores the empty record."
                  : "Clear the page from the window?\n\nThe image store keeps what it holds for this record until "
                    "Save Image or Exit/Save stores the empty record.",
              unsigned(documentPages.size()));
    if (ShellMessage(question, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    ReleaseCurrentImage();
    UpdatePageTitle(window);
    UpdateViewScrollBars(window);
    InvalidateRect(window, nullptr, TRUE);
}
