#pragma once
// The acquisition library's one message box and the switch that silences it.
// Every library message, and those the shell routes through it, goes here.

void TWAIN_ErrorBox(const char* text);
// Stores the flag and answers the previous setting.
bool TWAIN_SuppressErrorBoxes(bool suppress);
