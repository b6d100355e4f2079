#pragma once
// The image store's operations on one host record's image in "pagorex.idx" and
// "pagorex.dat": the host hands each of them the store directory, the record number and
// the window they keep alive and report through (store_host.h).
//
// What the files hold: the index, 256-byte records (record number, blob offset and
// lengths, compressed flag, deleted mark), rewritten in place and appended, never moved;
// the data file, blobs (gzip members of bitmap files, or plain bitmap files from earlier
// writers) only ever appended. Invariants every operation keeps:
//  - a blob is whole in its file before a record points at it (in a compaction, flushed
//    too); superseded blobs stay until a compaction drops them;
//  - a compaction writes "pagorex.new" in index order and repoints records in that order,
//    so the moved records are an unbroken chain from the first, which loads and which the
//    next compaction continues; the data file is replaced by one rename, after the index
//    was flushed, once every record was moved;
//  - no file is cut, renamed over or deleted while a record points into the bytes that go;
//  - a document's page records are on the disk before page 1's record, which readers find
//    first and which commits it; records no document needs any more are marked deleted and
//    reused by later saves of the number (page_records.h);
//  - every operation holds the store's byte-range lock from its start to its end
//    (store_lock.h), exclusive when it writes, shared when it only reads;
//  - a save writes the bitmap file to "pagorex.2" and its member to "pagorex.tmp", which
//    it leaves behind; a load expands straight into memory and removes both.

#include "store/store_host.h"

#include <cstdint>
#include <functional>

class StoreFiles;
enum class StoreLockOutcome;

// At window creation: hands the record's stored image to the host as the current image;
// without one the host is told there is none, or not called at all when the index holds
// no live record. A document of several pages: page 1 so, then every further page in
// order through AddPage; what could not be shown is told once the store is let go.
void LoadRecordImage(StoreHost& host);

// Writes the image to be stored as a bitmap file at path: answers 0 when it did, anything
// else for a failure (the caller tells the user).
using ImageFileWriter = std::function<int(const char* path)>;
struct SaveOutcome {
    bool stored = false;  // the store holds what the window shows (the image, or none)
    int writeError = 0;   // the writer's answer when it failed; nothing was stored then
};
// Save Image: with writer, the image it writes into the second work file "pagorex.2" is
// stored as the record's image; without one, the record is marked as having no image. All
// of it under one hold on the store, which also keeps the second work file this
// program's; it is gone afterwards. When memory runs out the user is told, nothing was
// stored and the record keeps what it had.
SaveOutcome SaveRecord(StoreHost& host, const ImageFileWriter* writer);

// Writes page `page` (0 is the first) of the document to be stored as a bitmap file at
// path: answers 0 when it did, anything else for a failure (the caller tells the user).
using PageFileWriter = std::function<int(uint32_t page, const char* path)>;
// Save Image of a document of `pages` pages, all or nothing: at every point of a power cut
// or a kill the record reads back as the document it had or the new one, never a mix of
// their pages (page_mark.h, page_records.h). The writer is asked for pages 1 .. pages-1
// and then for page 0, whose compressed member the work file keeps; 0 pages is the delete
// mark. Otherwise as SaveRecord, which is the save of one page.
SaveOutcome SaveDocument(StoreHost& host, uint32_t pages, const PageFileWriter& writer);

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
