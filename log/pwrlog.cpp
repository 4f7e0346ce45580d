// pwrlog FILE: prints the records of a ring log oldest first. After its first
// wrap a ring file is no longer in time order; this puts it back.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/ring_reader.h"
#include "platform/console_text.h"

namespace {

const char kHelp[] =
    "usage: pwrlog [--raw] FILE\n"
    "       pwrlog --help | --version\n"
    "\n"
    "Prints the records of an ORVEL Nimbrel ring log (the trace log QX_WOL_A.LOG,\n"
    "the operation log TAVANLOG.TXT) oldest first, one a line, converted from\n"
    "code page 932 to UTF-8.\n"
    "  --raw      keeps the bytes of the records as they are\n"
    "  --help     prints this text\n"
    "  --version  prints the version\n"
    "\n"
    "exit codes:\n"
    "  0  the records printed\n"
    "  1  the file cannot be read or is no ring log\n"
    "  2  usage error\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("pwrlog " ORVEL_VERSION);
    return 0;
  }
  bool raw = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--raw") == 0) {
      raw = true;
    } else if (!path && argv[i][0] != '-') {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (!path) {
    std::fputs(kHelp, stderr);
    return 2;
  }

  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pwrlog: %s: cannot open the file\n", path);
    return 1;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  std::vector<std::string> records;
  std::string error;
  if (!ReadRingLog(bytes, &records, &error)) {
    std::fprintf(stderr, "pwrlog: %s: %s\n", path, error.c_str());
    return 1;
  }
  for (const std::string& r : records) {
    const std::string text = raw ? r : platform::ToConsoleText(r);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
