// Ending the current transfer and discarding the images a source still holds.
#include "twain/session.h"

TW_PENDINGXFERS pendingXfers;

void TWAIN_OnTransferReady()
{
    // The image now waits in state 6 for whoever transfers it (the acquisition's
    // transfer step); the modal loop stops so that it can.
    TWAIN_BreakModalLoop();
}

bool TWAIN_EndTransfer()
{
    TWAIN_BreakModalLoop();
    if (nState == TWAIN_TRANSFERRING)
        TWAIN_CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pendingXfers);
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
