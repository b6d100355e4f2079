#pragma once
// Keeps the programs that share a store apart (store/core/store_lock.h says which bytes
// of the index file they lock). Every store operation holds a StoreLock from its start to
// its end; while another program holds the store, it waits through its host, which keeps
// the window alive and lets the user give up by closing it.

#include "store/store_files.h"
#include "store/store_host.h"

enum class StoreAccess {
    Read,   // reads the store and writes only the work files (a load)
    Write,  // changes anything of the store
};

// What taking the lock came to.
enum class StoreLockOutcome {
    Held,       // the operation may go on
    NoIndex,    // there is no index file: no record, and nothing to read or change
    Abandoned,   // the user closed the window while the operation waited
    Unopenable,  // the index file exists (or must be made) but could not be opened
    LockFailed,  // the index file could not be locked (a file system or network error)
};

class StoreLock {
public:
    // Takes the lock on the index file of files, waiting for as long as another program
    // holds it. createIndex: an index file that does not exist is created (a save); else
    // its absence ends the operation with NoIndex. One operation at a time holds it: a
    // lock asked for while this program holds one is a programming error.
    StoreLock(StoreHost& host, const StoreFiles& files, StoreAccess access, bool createIndex = false);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    StoreLockOutcome outcome() const { return outcome_; }
    bool held() const { return outcome_ == StoreLockOutcome::Held; }

private:
    StoreLockOutcome outcome_ = StoreLockOutcome::LockFailed;
    bool holds_ = false;
};

// Whether this program holds the store now.
bool StoreLockHeld();

// Tells the user something (a message box of style through the host). While this program
// holds the store it is shown once the store is let go of: every other program that uses
// the store would otherwise wait for as long as the box stays open.
void TellUser(StoreHost& host, const char* text, const char* caption, unsigned style);
// Asks the user a question that decides whether an operation goes on: asked only while
// the store is not held (and the state checked again once it is). Answers the button.
int AskUser(StoreHost& host, const char* text, const char* caption, unsigned style);
