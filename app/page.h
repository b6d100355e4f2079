#pragma once
// The Page menu: the shown image turned by quarter and half turns before it is kept.

#include "app/acquire.h"

#include <span>

// Rows of the window's command table and menu-state rules.
std::span<const CommandRow> PageCommands();
std::span<const MenuRule> PageMenuRules();

#ifdef PAGOREX_TEST_SEAMS
// While set, the memory for a turned copy cannot be had.
extern bool turnMemoryFailsForTest;
#endif
