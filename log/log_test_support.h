// Scratch directories, whole-file reads and record texts for the tests of the
// logs and of the programs that write them.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log/ring_log.h"
#include "log/ring_reader.h"

namespace logtest {

namespace fs = std::filesystem;

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The record texts of a ring log, oldest first, without their timestamps
// ("2001/10/05 01:39:14.007 "); none when the file is missing or no ring log.
inline std::vector<std::string> LogTexts(const fs::path& file) {
  std::vector<std::string> records, texts;
  std::string error;
  ReadRingLog(ReadAll(file.string()), &records, &error);
  for (const std::string& r : records) texts.push_back(r.size() > 24 ? r.substr(24) : "");
  return texts;
}

// A fresh directory, removed again at the end; szLogDir points into it.
class ScratchLogDir {
 public:
  ScratchLogDir() {
    fs::create_directories(dir_);
    std::snprintf(szLogDir, sizeof szLogDir, "%s", Path("").c_str());
  }
  ~ScratchLogDir() { std::error_code ec; fs::remove_all(dir_, ec); }
  // A file in the directory; "" for the directory itself, ending in a separator.
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::vector<std::string> Texts(const char* file) const { return LogTexts(dir_ / file); }

 private:
  fs::path dir_ = fs::temp_directory_path() / ("ringlog-" + std::to_string(std::random_device()()));
};

// Polls done() every step_ms for at most timeout_ms; returns done().
template <typename Done>
bool WaitFor(Done done, int timeout_ms = 10000, int step_ms = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
  return true;
}

// One 82-byte line of a ring file: the header, a record or a blank slot.
inline std::string Line80(std::string content) { content.resize(80, ' '); return content + "\r\n"; }
inline std::string BlankLine() { return Line80(""); }
inline std::string HeaderLine(std::string digits) { return Line80("QX/WOL LOG FILE " + digits); }
inline std::string RecordLine(std::string t) { return Line80("2001/10/05 01:39:14.007 " + t); }

}  // namespace logtest
