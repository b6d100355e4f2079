#pragma once
// The image store as the shell sees it: one record's image in "pagorex.idx" and
// "pagorex.dat" in the store directory, for hostRecordNumber.

#include <windows.h>

// At window creation: makes the record's stored image the current image (currentDib and
// currentPalette) and sizes the window to it; without one the window starts empty.
void LoadRecordImage(HWND window);

// Stores the image file in the second work file "pagorex.2" as the record's image.
// Answers whether the image is now in the store; when it is not, the user has been told
// and the record still points at the image it had before.
bool SaveRecordImage(HWND window);

// Marks the record as having no image, keeping its blob. Answers whether the store now
// holds no image for the record (also when it never had one); the user is told when the
// mark could not be written.
bool MarkRecordDeleted(HWND window);

// Commands 115 (Save Image) and 104 (Exit/Save): stores currentDib for the record, or
// marks the record as having none when there is no current image. Answers whether the
// store now holds what the window shows. Refused while another store operation is
// under way further down the stack (false, nothing touched, the user told): Exit/Save
// should then keep the window open.
bool SaveCommand(HWND window);

// A store operation is running further down the stack (it pumps messages while its
// files are open): commands that touch the store must wait.
bool StoreBusy();
