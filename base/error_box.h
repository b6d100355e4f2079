#pragma once
// The acquisition library's one message box and the switch that silences it. Every
// library message, and those the DIB layer and the shell route through it, goes here; it
// lies below both the DIB layer and the acquisition library, which uses DIBs.

void TWAIN_ErrorBox(const char* text);
// Stores the flag and answers the previous setting.
bool TWAIN_SuppressErrorBoxes(bool suppress);
