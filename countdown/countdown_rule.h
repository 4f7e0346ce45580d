// PWRCOUNT's command line and clock, apart from its dialog.
#pragma once

#include <cstdint>

// The countdown in seconds named by the last word of the whole command line
// (program path first, quoted or not): 1 to 9999 in decimal digits only; 0
// for anything else, a line without a word after the program included.
uint32_t CountdownSeconds(const char* command_line);

// The whole seconds left of a countdown of `seconds` after elapsed_ms,
// rounded up, so that the last second shows 1 until the time is out.
uint32_t SecondsLeft(uint32_t seconds, uint32_t elapsed_ms);
