#pragma once
// The record's document of several pages (view.h holds its pages): the Page menu's ways
// through it, and what the batch and Clear Image do to it.

#include "app/acquire.h"

#include <span>

// Rows of the window's command table and menu-state rules.
std::span<const CommandRow> DocumentCommands();
std::span<const MenuRule> DocumentMenuRules();
// WM_KEYDOWN with Ctrl held: Page Up and Down, Home and End page through the document,
// with Shift they move the page shown, Delete deletes it. Answers whether the key pages.
bool PageByKey(HWND window, UINT key);

// Adds dib after the last page and shows it; before (a scanned page it was made from, or
// dib itself) is kept for Undo.
void AddDocumentPage(HWND window, HGLOBAL dib, HGLOBAL before);
// Clear Image: every page leaves the window, once the user has said so; Save Image then
// marks the record as having no image.
void ClearDocument(HWND window);
