#pragma once
// The image store's operations on one host record's image in "pagorex.idx" and
// "pagorex.dat": the host hands each of them the store directory, the record number and
// the window they keep alive and report through (store_host.h).

#include "store/store_host.h"

class StoreFiles;
enum class StoreLockOutcome;

// At window creation: hands the record's stored image to the host as the current image;
// without one the host is told there is none, or not called at all when the index holds
// no live record.
void LoadRecordImage(StoreHost& host);

// Stores the image file in the second work file "pagorex.2" as the record's image.
// Answers whether the image is now in the store; when it is not, the user has been told
// and the record still points at the image it had before.
bool SaveRecordImage(StoreHost& host);

// Marks the record as having no image, keeping its blob. Answers whether the store now
// holds no image for the record (also when it never had one); the user is told when the
// mark could not be written.
bool MarkRecordDeleted(StoreHost& host);

// A save (image) or a delete mark (no image) whose lock on the store came to outcome:
// anything but Held tells the user why nothing was stored. Answers whether the store holds
// what the window shows all the same (a mark without an index file: there is no image).
bool SaveNotLocked(StoreHost& host, const StoreFiles& files, StoreLockOutcome outcome, bool image);

// A store operation is running further down the stack (it pumps messages while its
// files are open): commands that touch the store must wait.
bool StoreBusy();
// Marks a store operation for as long as it lives.
class StoreBusyScope {
public:
    StoreBusyScope();
    ~StoreBusyScope();
    StoreBusyScope(const StoreBusyScope&) = delete;
    StoreBusyScope& operator=(const StoreBusyScope&) = delete;
};
