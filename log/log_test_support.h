// Scratch directories, whole-file reads and record texts for the tests of the
// logs and of the programs that write them.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "log/ring_log.h"
#include "log/ring_reader.h"

namespace logtest {

namespace fs = std::filesystem;

// A fresh directory, removed again at the end; szLogDir points into it.
class ScratchLogDir {
 public:
  ScratchLogDir() {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("ringlog-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
    const std::string d = dir_.string() + static_cast<char>(fs::path::preferred_separator);
    std::snprintf(szLogDir, sizeof szLogDir, "%s", d.c_str());
  }
  ~ScratchLogDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The record texts of a ring log, oldest first, without their timestamps
// ("2001/10/05 01:39:14.007 "); none when the file is missing or no ring log.
inline std::vector<std::string> LogTexts(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> records, texts;
  std::string error;
  if (bytes.empty() || !ReadRingLog(bytes, &records, &error)) return texts;
  for (const std::string& r : records) texts.push_back(r.size() > 24 ? r.substr(24) : "");
  return texts;
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string BlankLine() { return std::string(80, ' ') + "\r\n"; }

inline std::string HeaderLine(const char* digits) {
  std::string h = std::string("QX/WOL LOG FILE ") + digits;
  h.resize(80, ' ');
  return h + "\r\n";
}

// Slot n of a ring file's bytes.
inline std::string Slot(const std::string& bytes, size_t n) { return bytes.substr(n * 82, 82); }

}  // namespace logtest
