// The Page menu: turns and clean-ups of the shown page, and Undo. Each replaces the current
// image by a new copy, which is what Save Image and Save as file then store; the image
// before it is kept for Undo, and stays shown whenever no copy can be made.
#include "app/page.h"

#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib_lock.h"
#include "dib/dib_turn.h"
#include "resources/resource.h"

#ifdef PAGOREX_TEST_SEAMS
int copyMemoryFailsAtForTest = 0;
#endif

namespace {
constexpr char kNoMemory[] = "There is not enough memory to turn the page. It is left as it was.";
constexpr char kCannotTurn[] = "This image cannot be turned: it is compressed or damaged. It is left as it was.";

HGLOBAL Allocate(uint64_t bytes)
{
#ifdef PAGOREX_TEST_SEAMS
    if (copyMemoryFailsAtForTest > 0 && --copyMemoryFailsAtForTest == 0)
        return nullptr;
#endif
    return bytes <= SIZE_MAX ? GlobalAlloc(GMEM_MOVEABLE, SIZE_T(bytes)) : nullptr;
}

bool TurnInto(HGLOBAL copy, const LockedDib& source, DibTurn turn)
{
    LockedDib target(copy);
    return target.data() && DibMemTurn(source.data(), source.size(), turn, target.data(), target.size());
}

// The turned copy of dib, or null with the reason in failure. The message is shown only
// once dib is unlocked: a command run inside its box may replace the image.
HGLOBAL TurnedCopy(HGLOBAL dib, DibTurn turn, const char*& failure)
{
    LockedDib source(dib);
    uint64_t bytes = DibMemTurnedBytes(source.data(), source.size(), turn);
    failure = bytes == 0 ? kCannotTurn : kNoMemory;
    HGLOBAL copy = bytes == 0 ? nullptr : Allocate(bytes);
    if (copy && TurnInto(copy, source, turn))
        return copy;
    if (copy)
        GlobalFree(copy);
    return nullptr;
}

// A clean-up's result block in movable global memory, freed unless taken.
class GlobalBlock : public imaging::ResultBlock {
public:
    ~GlobalBlock()
    {
        if (handle_)
            GlobalFree(Take());
    }
    uint8_t* Allocate(size_t bytes) override
    {
        handle_ = ::Allocate(bytes);
        data_ = handle_ ? static_cast<uint8_t*>(GlobalLock(handle_)) : nullptr;
        return data_;
    }
    HGLOBAL Take()
    {
        if (data_)
            GlobalUnlock(handle_);
        data_ = nullptr;
        HGLOBAL handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HGLOBAL handle_ = nullptr;
    uint8_t* data_ = nullptr;
};

struct CleanUpTexts {
    imaging::PageCommand command;
    const char* noMemory;
    const char* cannot;
};

constexpr CleanUpTexts kCleanUps[] = {
    {imaging::PageCommand::kGrey, "There is not enough memory to make the page grey. It is left as it was.",
     "This image cannot be made grey: it is compressed or damaged. It is left as it was."},
    {imaging::PageCommand::kBlackAndWhite,
     "There is not enough memory to make the page black and white. It is left as it was.",
     "This image cannot be made black and white: it is compressed or damaged. It is left as it was."},
    {imaging::PageCommand::kStraighten, "There is not enough memory to straighten the page. It is left as it was.",
     "This image cannot be straightened: it is compressed or damaged. It is left as it was."},
    {imaging::PageCommand::kCrop, "There is not enough memory to crop the page. It is left as it was.",
     "This image cannot be cropped: it is compressed or damaged. It is left as it was."},
};

const char* OutcomeText(imaging::PageCommand command, imaging::Outcome outcome)
{
    switch (outcome) {
    case imaging::Outcome::kDone: return nullptr;
    case imaging::Outcome::kNoLines:
        return "No lines of text were found to straighten the page by. It is left as it was.";
    case imaging::Outcome::kAlreadyLevel: return "The page's lines are level already. It is left as it was.";
    case imaging::Outcome::kNoBorder: return "No border was found around the paper. The page is left as it was.";
    case imaging::Outcome::kNoMemory: return kCleanUps[int(command)].noMemory;
    case imaging::Outcome::kCannotHandle: break;
    }
    return kCleanUps[int(command)].cannot;
}

template <DibTurn Turn>
void TurnPage(HWND window)
{
    if (!currentDib)
        return;
    const char* failure = nullptr;
    if (HGLOBAL turned = TurnedCopy(currentDib, Turn, failure))
        ShowChangedImage(window, turned, currentDib);
    else
        ShellMessage(failure, MB_OK | MB_ICONINFORMATION);
}

template <imaging::PageCommand Command>
void CleanPage(HWND window)
{
    if (!currentDib)
        return;
    imaging::Outcome outcome = imaging::Outcome::kDone;
    if (HGLOBAL cleaned = CleanedCopy(currentDib, Command, outcome))
        ShowChangedImage(window, cleaned, currentDib);
    else
        ShellMessage(OutcomeText(Command, outcome), MB_OK | MB_ICONINFORMATION);
}

void Undo(HWND window)
{
    if (!undoDib)
        return;
    HGLOBAL before = undoDib;
    undoDib = nullptr;
    ShowImage(window, before);
}

// Held like the store commands: the image must not change under a save that is writing
// it, nor while an acquisition may be about to replace it.
template <void (*Operation)(HWND), int Id>
void Held(HWND window)
{
    RunHeldCommand(window, Id, Operation);
}

constexpr CommandRow kPageCommands[] = {
    {CMD_TURN_CLOCKWISE, Held<TurnPage<DibTurn::kClockwise>, CMD_TURN_CLOCKWISE>},
    {CMD_TURN_COUNTERCLOCKWISE, Held<TurnPage<DibTurn::kCounterClockwise>, CMD_TURN_COUNTERCLOCKWISE>},
    {CMD_TURN_HALF, Held<TurnPage<DibTurn::kHalf>, CMD_TURN_HALF>},
    {CMD_PAGE_GREY, Held<CleanPage<imaging::PageCommand::kGrey>, CMD_PAGE_GREY>},
    {CMD_PAGE_BLACK_AND_WHITE, Held<CleanPage<imaging::PageCommand::kBlackAndWhite>, CMD_PAGE_BLACK_AND_WHITE>},
    {CMD_PAGE_STRAIGHTEN, Held<CleanPage<imaging::PageCommand::kStraighten>, CMD_PAGE_STRAIGHTEN>},
    {CMD_PAGE_CROP, Held<CleanPage<imaging::PageCommand::kCrop>, CMD_PAGE_CROP>},
    {CMD_PAGE_UNDO, Held<Undo, CMD_PAGE_UNDO>},
};

bool NoImage()
{
    return currentDib == nullptr;
}

constexpr MenuRule kPageMenuRules[] = {
    {CMD_TURN_CLOCKWISE, false, NoImage},
    {CMD_TURN_COUNTERCLOCKWISE, false, NoImage},
    {CMD_TURN_HALF, false, NoImage},
    {CMD_PAGE_GREY, false, NoImage},
    {CMD_PAGE_BLACK_AND_WHITE, false, NoImage},
    {CMD_PAGE_STRAIGHTEN, false, NoImage},
    {CMD_PAGE_CROP, false, NoImage},
    {CMD_PAGE_UNDO, false, [] { return undoDib == nullptr; }},
};
}  // namespace

HGLOBAL CleanedCopy(HGLOBAL dib, imaging::PageCommand command, imaging::Outcome& outcome)
{
    GlobalBlock block;
    {
        LockedDib source(dib);
        outcome = imaging::RunPageCommand(command, source.data(), source.size(), block).outcome;
    }
    return outcome == imaging::Outcome::kDone ? block.Take() : nullptr;
}

const char* CleanUpFailure(imaging::PageCommand command, imaging::Outcome outcome)
{
    return outcome == imaging::Outcome::kNoMemory || outcome == imaging::Outcome::kCannotHandle
               ? OutcomeText(command, outcome)
               : nullptr;
}

std::span<const CommandRow> PageCommands()
{
    return kPageCommands;
}

std::span<const MenuRule> PageMenuRules()
{
    return kPageMenuRules;
}
