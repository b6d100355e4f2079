// The Page menu's turns. A turn replaces the current image by its turned copy, which is
// what Save Image and Save as file then store; the image before it is freed only once the
// copy exists, so a turn holds at most the two.
#include "app/page.h"

#include "app/shell.h"
#include "app/store_guard.h"
#include "app/view.h"
#include "dib/dib_lock.h"
#include "dib/dib_turn.h"
#include "resources/resource.h"

#ifdef PAGOREX_TEST_SEAMS
bool turnMemoryFailsForTest = false;
#endif

namespace {
constexpr char kNoMemory[] = "There is not enough memory to turn the page. It is left as it was.";
constexpr char kCannotTurn[] = "This image cannot be turned: it is compressed or damaged. It is left as it was.";

HGLOBAL Allocate(uint64_t bytes)
{
#ifdef PAGOREX_TEST_SEAMS
    if (turnMemoryFailsForTest)
        return nullptr;
#endif
    return GlobalAlloc(GMEM_MOVEABLE, SIZE_T(bytes));
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

template <DibTurn Turn>
void TurnPage(HWND window)
{
    if (!currentDib)
        return;
    const char* failure = nullptr;
    if (HGLOBAL turned = TurnedCopy(currentDib, Turn, failure))
        ShowImage(window, turned);
    else
        ShellMessage(failure, MB_OK | MB_ICONINFORMATION);
}

// Held like the store commands: the image must not change under a save that is writing
// it, nor while an acquisition may be about to replace it.
template <DibTurn Turn, int Id>
void HeldTurn(HWND window)
{
    RunHeldCommand(window, Id, TurnPage<Turn>);
}

constexpr CommandRow kPageCommands[] = {
    {CMD_TURN_CLOCKWISE, HeldTurn<DibTurn::kClockwise, CMD_TURN_CLOCKWISE>},
    {CMD_TURN_COUNTERCLOCKWISE, HeldTurn<DibTurn::kCounterClockwise, CMD_TURN_COUNTERCLOCKWISE>},
    {CMD_TURN_HALF, HeldTurn<DibTurn::kHalf, CMD_TURN_HALF>},
};

bool NoImage()
{
    return currentDib == nullptr;
}

constexpr MenuRule kPageMenuRules[] = {
    {CMD_TURN_CLOCKWISE, false, NoImage},
    {CMD_TURN_COUNTERCLOCKWISE, false, NoImage},
    {CMD_TURN_HALF, false, NoImage},
};
}  // namespace

std::span<const CommandRow> PageCommands()
{
    return kPageCommands;
}

std::span<const MenuRule> PageMenuRules()
{
    return kPageMenuRules;
}
