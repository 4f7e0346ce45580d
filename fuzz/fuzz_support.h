// Shared by the fuzz targets. A failed invariant aborts with its text, which
// libFuzzer reports as a crash and keeps the input of.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

// This process's scratch file of the given name in $TMPDIR (scripts/fuzz
// gives each run a directory of its own) or /tmp.
inline std::string ScratchPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/orvel-fuzz-" + std::to_string(getpid()) +
         "-" + name;
}

inline std::string WriteScratch(const char* name, const uint8_t* data, size_t size) {
  const std::string path = ScratchPath(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  FUZZ_CHECK(out.good());
  return path;
}

inline std::string ReadScratch(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
