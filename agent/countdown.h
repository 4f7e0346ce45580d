// The countdown program shown to every person signed in, and how their
// answers combine into one decision on the power-off.
#pragma once

#include <cstdint>

#include "platform/process.h"

// The session seam, replaced by tests with a made-up list of sessions.
extern bool (*ListSessionsCall)(platform::SessionList*);
extern platform::Process (*StartInSessionCall)(uint32_t, const char*, platform::UserStart*);

// Starts the countdown program in every session with a person in it (the
// active ones, and the console's), else the plain way, unseen; then polls
// once a second, at most `polls` times. Any non-zero exit code cancels for
// everyone: the other countdowns are ended and *exit_code is that code. The
// power-off goes ahead (*exit_code 0) when every countdown has ended with 0,
// or when some still run at the limit. False when none could start.
bool RunCountdowns(const char* command_line, long polls, uint32_t* exit_code);
