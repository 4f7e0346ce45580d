// The agent's pauses, replaceable so that tests of the one-second polls and
// the 181-second repetition need not wait for them.
#pragma once

#include <cstdint>

// Sleep(ms) by default.
extern void (*AgentSleep)(uint32_t ms);
