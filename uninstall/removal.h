// The removal of the agent behind AGTREMOV's 削除 button, apart from the
// dialogs: services, registry settings, files. It runs once per program start.
#pragma once

#include <windows.h>

enum class RemovalOutcome {
  kNotWindowsNt,       // nothing changed
  kServiceNotRemoved,  // dwLastError holds the code; nothing else changed
  kProgramInUse,       // both services deleted; registry and files untouched
  kCompleted,          // as far as each step succeeded
};

// Set by every failed registry operation whose failure leaves something of
// the agent behind; never reset.
extern bool bRegistryIncomplete;

// Runs the removal up to its outcome; the caller reports it.
RemovalOutcome RemoveAgentSettings();
