#pragma once
// What the store's operations need from the program that runs them, handed to every
// operation: where the store is, which host record the run is for, and how to keep the
// window alive and talk to the user while they work. The store keeps no window, record
// number or path of its own, so the same operations run for any directory and record.

#include "store/core/blob_stream.h"

#include <cstdint>

// Shown while an operation waits for another program to finish with the store.
inline constexpr char kStoreInUseText[] = "Please wait, the image store is in use by another program...";

class StoreHost {
public:
    // The directory that holds the store files, ending in a path separator ("" for the
    // current directory); null when there is none to work in (the path the host gave does
    // not leave room for a store file name): every store file operation then fails.
    virtual const char* StoreDirectory() = 0;
    // The host record this run loads and saves.
    virtual int32_t RecordNumber() = 0;
    // Shows a progress text (the main window's title); it stays when the operation ends.
    virtual void SetProgressText(const char* text) = 0;
    // Dispatches the messages waiting for the window and repaints it at once: long store
    // work calls it between chunks, so commands can arrive in the middle of an operation.
    virtual void KeepAlive() = 0;
    // A message box owned by the main window with a MB_ style; a null caption stands for
    // the program's name. Answers the button chosen (IDOK, IDYES, ...).
    virtual int Message(const char* text, const char* caption, unsigned style) = 0;
    // A load ends: the image file read from image (a Windows bitmap file, damaged or short
    // ones included: the host judges it) becomes the current image, or, for null, the
    // window shows none. The source can be read only during the call.
    virtual void ShowImage(ImageFileSource* image) = 0;
    // A load of a document of several pages: after ShowImage has shown page 1, each further
    // page in order (the image file as for ShowImage, null for a page that could not be
    // read). Hosts that keep one image take page 1 alone.
    virtual void AddPage(ImageFileSource* image) { (void)image; }

    // Another program is working on the store and the operation waits for it: shows that
    // it waits (the title), keeps the window alive and returns after a short while, or
    // sooner when a message arrives. Answers false once the user has given the wait up
    // (closed the window): the operation then ends without touching the store.
    virtual bool WaitForStore();
    // The wait is over, the store taken or given up: the window shows what it showed
    // before the wait.
    virtual void StoreWaitEnded() {}

protected:
    ~StoreHost() = default;
};

// Sets the progress text, then keeps the window alive.
inline void ShowProgress(StoreHost& host, const char* text)
{
    host.SetProgressText(text);
    host.KeepAlive();
}
