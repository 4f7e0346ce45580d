// The agent's command line: nothing to run it; --help or --version to print
// and end.
#pragma once

// -1 when the agent is to run; otherwise the exit code: 0 after --help (the
// text on standard output) or --version (NAME and the version), 2 after anything else
// (the text on standard error).
int AgentOptions(int argc, char** argv, const char* name, const char* help);
