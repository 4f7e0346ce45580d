// A stand-in countdown program for the tests: exits with a chosen code after
// a chosen time.
//   countdown_fixture.exe EXITCODE SECONDS [RECORD_FILE] LENGTH
// LENGTH is not used here; it is the last word because the agent reads the
// countdown length from there. RECORD_FILE, when given, gets one line per
// start so that a test can count the countdowns that ran.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: countdown_fixture EXITCODE SECONDS [RECORD_FILE] LENGTH\n");
    return 2;
  }
  if (FILE* f = argc == 5 ? std::fopen(argv[3], "a") : nullptr) {
    std::fprintf(f, "started %lu\n", GetCurrentProcessId());
    std::fclose(f);
  }
  Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) * 1000);
  return static_cast<int>(std::strtol(argv[1], nullptr, 10));
}
