// Clean-ups of every scanned page as it arrives, and the Options menu's items that choose
// them. The page is straightened before it is cropped: turned straight, the sheet's edges
// come out level, and the crop then takes its border and the turned-in corners together.
#include "app/page.h"

#include "app/document.h"
#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib.h"
#include "dib/dib_lock.h"
#include "imaging/blank_page.h"
#include "resources/resource.h"
#include "twain/twain.h"

#include <string>
#include <vector>

int straightenScannedPages = 0;
int cropScannedPages = 0;
int scannedPagesAs = kScannedAsColour;
int skipBlankPages = 0;

namespace {
template <int* Option>
void Toggle(HWND)
{
    *Option = *Option ? 0 : 1;
}

template <int As>
void ScanAs(HWND)
{
    scannedPagesAs = As;
}

// Held like the acquisition options: a source that is enabled takes the new ones at its
// next opening.
void ResetOptions(HWND window)
{
    AcquisitionWork work(window);
    TWAIN_DisableSource();
    ResetRememberedOptions();
}

constexpr CommandRow kCommands[] = {
    {CMD_STRAIGHTEN_SCANNED, Toggle<&straightenScannedPages>},
    {CMD_CROP_SCANNED, Toggle<&cropScannedPages>},
    {CMD_SCANNED_AS_COLOUR, ScanAs<kScannedAsColour>},
    {CMD_SCANNED_AS_GREY, ScanAs<kScannedAsGrey>},
    {CMD_SCANNED_AS_BLACK_AND_WHITE, ScanAs<kScannedAsBlackAndWhite>},
    {CMD_SKIP_BLANK_PAGES, Toggle<&skipBlankPages>},
    {CMD_RESET_OPTIONS, ResetOptions},
};

// Whether a page of a batch is nothing but paper, as it is about to be added (after the
// clean-ups, which may have made it grey or black and white).
bool PageIsBlank(HGLOBAL page)
{
    LockedDib locked(page);
    return locked.data() && imaging::IsBlankPage(locked.data(), locked.size());
}

// A step that failed after others were done leaves the page as they made it, not "as it
// was": the failure's first sentence, then what the page keeps.
std::string KeptAfterFailure(const std::string& failure, const std::vector<const char*>& kept)
{
    std::string text = failure.substr(0, failure.find(". ") + 1) + " The page is kept ";
    for (size_t i = 0; i < kept.size(); ++i)
        text += std::string(i == 0 ? "" : i + 1 == kept.size() ? " and " : ", ") + kept[i];
    return text + ", as the clean-ups before left it; Undo gives back the page as scanned.";
}

template <int As>
bool ScannedAs()
{
    return scannedPagesAs == As;
}

constexpr MenuRule kMenuRules[] = {
    {CMD_STRAIGHTEN_SCANNED, true, [] { return straightenScannedPages == 1; }},
    {CMD_CROP_SCANNED, true, [] { return cropScannedPages == 1; }},
    {CMD_SCANNED_AS_COLOUR, true, ScannedAs<kScannedAsColour>},
    {CMD_SCANNED_AS_GREY, true, ScannedAs<kScannedAsGrey>},
    {CMD_SCANNED_AS_BLACK_AND_WHITE, true, ScannedAs<kScannedAsBlackAndWhite>},
    {CMD_SKIP_BLANK_PAGES, true, [] { return skipBlankPages == 1; }},
};
}  // namespace

std::span<const CommandRow> ScannedPageCommands()
{
    return kCommands;
}

std::span<const MenuRule> ScannedPageMenuRules()
{
    return kMenuRules;
}

bool ShowScannedPage(HWND window, HGLOBAL scanned, ScannedPlace place)
{
    using imaging::PageCommand;
    const bool steps[] = {straightenScannedPages == 1, cropScannedPages == 1, scannedPagesAs == kScannedAsGrey,
                          scannedPagesAs == kScannedAsBlackAndWhite};
    const PageCommand commands[] = {PageCommand::kStraighten, PageCommand::kCrop, PageCommand::kGrey,
                                    PageCommand::kBlackAndWhite};
    const char* const done[] = {"straightened", "cropped", "grey", "black and white"};
    HGLOBAL page = scanned;
    const char* failure = nullptr;
    std::vector<const char*> kept;
    for (size_t i = 0; i < std::size(steps) && scanned && !failure; ++i) {
        if (!steps[i])
            continue;
        imaging::Outcome outcome = imaging::Outcome::kDone;
        HGLOBAL next = CleanedCopy(page, commands[i], outcome);
        failure = CleanUpFailure(commands[i], outcome);
        if (!next)
            continue;
        if (page != scanned)
            GlobalFree(page);
        page = next;
        kept.push_back(done[i]);
    }
    const bool added = place == ScannedPlace::kAfterLast;
    if (added && skipBlankPages == 1 && PageIsBlank(page)) {
        if (page != scanned)
            DibFree(page);
        DibFree(scanned);
        return false;
    }
    if (added)
        AddDocumentPage(window, page, scanned);
    else if (page == scanned)
        ShowImage(window, scanned);
    else
        ShowChangedImage(window, page, scanned);
    if (failure && page != scanned)
        ShellMessage(KeptAfterFailure(failure, kept).c_str(), MB_OK | MB_ICONINFORMATION);
    else if (failure)
        ShellMessage(failure, MB_OK | MB_ICONINFORMATION);
    return true;
}
