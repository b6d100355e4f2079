#pragma once
// The Page menu: the shown image turned by quarter and half turns, made grey or black and
// white, straightened and cropped before it is kept, and Undo of the last of these. The
// Options menu's clean-ups of every scanned page as it arrives.

#include "app/acquire.h"
#include "imaging/page_commands.h"

#include <span>

// Rows of the window's command table and menu-state rules.
std::span<const CommandRow> PageCommands();
std::span<const MenuRule> PageMenuRules();
std::span<const CommandRow> ScannedPageCommands();
std::span<const MenuRule> ScannedPageMenuRules();

// A clean-up's result as a new DIB handle, or null with the outcome that says why.
HGLOBAL CleanedCopy(HGLOBAL dib, imaging::PageCommand command, imaging::Outcome& outcome);
// What to tell when a clean-up failed (no memory, an image it cannot read); null when the
// outcome is no failure (done, or nothing to do on this page).
const char* CleanUpFailure(imaging::PageCommand command, imaging::Outcome outcome);

// The clean-ups chosen for scanned pages, kept for the Windows user with the other options.
constexpr int kScannedAsColour = 0;
constexpr int kScannedAsGrey = 1;
constexpr int kScannedAsBlackAndWhite = 2;
extern int straightenScannedPages;  // 1: every scanned page is straightened
extern int cropScannedPages;        // 1: every scanned page is cropped to its paper
extern int scannedPagesAs;          // kScannedAsColour, kScannedAsGrey or kScannedAsBlackAndWhite
extern int skipBlankPages;          // 1: a feeder batch leaves blank pages out
// Where a scanned page goes: over the page shown (Acquire), or after the document's last
// page (each page of a feeder batch).
enum class ScannedPlace { kReplaceShown, kAfterLast };
// Shows a page as it arrives from the scanner, straightened, cropped and converted as the
// options ask; the page as scanned is kept for Undo. A clean-up that fails leaves the page
// as it was and says so; one with nothing to do on the page says nothing. A page of a
// batch that is blank, with Skip Blank Pages on, is left out and freed: answers false then.
bool ShowScannedPage(HWND window, HGLOBAL scanned, ScannedPlace place = ScannedPlace::kReplaceShown);

// The options kept for the Windows user under HKEY_CURRENT_USER\Software\Pagorex: the
// acquisition options and the clean-ups of scanned pages. A missing or damaged value
// means the option's initial value.
void LoadRememberedOptions();
// Writes the options when any has changed since they were last read or written.
void RememberOptions();
// Every remembered option back to its initial value, and the key removed.
void ResetRememberedOptions();

#ifdef PAGOREX_TEST_SEAMS
// Set to n, the n-th turned or cleaned copy from now cannot get its memory (the others
// can); 0: every copy can.
extern int copyMemoryFailsAtForTest;
#endif
