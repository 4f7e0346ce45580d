// Test helper: a second process that writes the manager trace log at the same
// time as others, or one that dies while it holds a log mutex.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "log/ring_log.h"
#include "platform/named_mutex.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--die-holding") == 0) {
    platform::NamedMutex m = platform::NamedMutex::Open(argv[2]);
    if (m.Wait(5000) != platform::WaitResult::kAcquired) return 3;
    std::_Exit(0);  // no release, no destructors
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: ring_log_writer DIR WRITER COUNT\n");
    return 2;
  }
  std::snprintf(szLogDir, sizeof szLogDir, "%s%c", argv[1],
                static_cast<char>(std::filesystem::path::preferred_separator));
  const std::string name = std::string("W") + argv[2];
  const int count = std::atoi(argv[3]);
  std::string ok;
  for (int i = 0; i < count; ++i) {
    const std::string text = name + " " + std::to_string(i);
    if (WriteLog(text.c_str(), LOG_MANAGER)) ok += std::to_string(i) + "\n";
  }
  FILE* f = std::fopen((std::string(szLogDir) + name + ".ok").c_str(), "wb");
  if (!f) return 1;
  std::fwrite(ok.data(), 1, ok.size(), f);
  return std::fclose(f) == 0 ? 0 : 1;
}
