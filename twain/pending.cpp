// Ending the current transfer and discarding the images a source still holds.
#include "twain/session.h"

TW_PENDINGXFERS pendingXfers;
bool endRecovered = false;

namespace {
bool recovering = false;

// A source that will not end its transfer would keep the session in state 7, where it
// accepts nothing else: discard its images and close it, so that the next acquisition
// starts afresh. Each step is tried once, whatever the one before answered.
void RecoverFromFailedEnd()
{
    if (recovering)
        return;
    recovering = true;
    endRecovered = true;
    TWAIN_CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pendingXfers);
    if (nState >= TWAIN_SOURCE_ENABLED)
        TWAIN_CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &userInterface);
    if (nState >= TWAIN_SOURCE_OPEN)
        TWAIN_CallSourceManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceIdentity);
    recovering = false;
}
}  // namespace

bool TWAIN_EndTransfer()
{
    TWAIN_BreakModalLoop();
    if (nState == TWAIN_TRANSFERRING && !TWAIN_CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pendingXfers))
        RecoverFromFailedEnd();
    return nState < TWAIN_TRANSFERRING;
}

bool TWAIN_ResetPendingTransfers()
{
    TWAIN_BreakModalLoop();
    TWAIN_EndTransfer();
    if (nState == TWAIN_TRANSFER_READY)
        TWAIN_CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pendingXfers);
    TWAIN_FlushMessages();
    return nState < TWAIN_TRANSFER_READY;
}
