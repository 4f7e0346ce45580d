#include "agent/agent_options.h"

#include <cstdio>
#include <cstring>

int AgentOptions(int argc, char** argv, const char* name, const char* help) {
  if (argc < 2) return -1;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(help, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", name, ORVEL_VERSION);
    return 0;
  }
  std::fputs(help, stderr);
  return 2;
}
