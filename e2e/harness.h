// The end-to-end harness (Linux side): commands with a time limit, processes
// in the background, bounded waits, a private Xvfb, a private Wine prefix,
// screenshots. Everything it starts it stops again by pid or by its own prefix.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include <string>
#include <vector>

#include "log/log_test_support.h"

namespace e2e {

using logtest::WaitFor;

struct RunResult {
  int exit_code = -1;  // -1 when it did not end by itself (time-out, signal)
  std::string out;     // what it wrote to stdout and stderr
};

// Runs argv (no shell) with extra "NAME=value" entries over this process's
// environment; kills its process group after timeout_ms.
RunResult Run(const std::vector<std::string>& argv, int timeout_ms,
              const std::vector<std::string>& env = {});

// A process in its own process group, its output going to log_path; it gets
// SIGTERM when this process dies, and with its group when it is destroyed.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& log_path);
  Background(Background&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background();

  pid_t pid() const { return pid_; }
  // Waits for the end at most timeout_ms; then *exit_code is its code, or -1
  // after a signal. False on time-out.
  bool Wait(int timeout_ms, int* exit_code);

 private:
  pid_t pid_;
};

// A private X server on a free display chosen by Xvfb itself.
struct Xvfb : Background {
  explicit Xvfb(const std::string& log_path);
  std::string display;  // ":N"; empty when the server did not start
};

// The whole screen of the display as a PNG (imagemagick's import).
bool Screenshot(const std::string& display, const std::string& png_path);

// The Windows architecture the scenarios run under: $ORVEL_E2E_ARCH (win32
// or win64), else what scripts/wine-prefix picks for this host.
const std::string& WineArch(const std::string& source_dir);
// The Windows programs of that architecture: build/win32/bin or build/win64/bin.
std::string WinBinDir(const std::string& source_dir);

// A private Wine prefix with its own persistent wineserver, run through
// scripts/wine-prefix; ANSI code page 932, of the architecture WineArch()
// names, in the folder DIR-win32 or DIR-win64.
class WinePrefix {
 public:
  WinePrefix(std::string source_dir, std::string dir, std::string display);
  ~WinePrefix() {
    if (started_) Stop();
  }

  bool Start();  // creates the prefix once, then starts the persistent wineserver
  void Stop();   // wineserver -k for this prefix only
  const std::string& dir() const { return dir_; }
  std::vector<std::string> Env() const;

  RunResult Wine(const std::vector<std::string>& args, int timeout_ms = 60000) const;
  Background WineInBackground(const std::vector<std::string>& args,
                              const std::string& log_path) const;
  // Imports a REGEDIT4 text through regedit /s.
  bool ImportRegistry(const std::string& reg_text) const;

 private:
  std::vector<std::string> WineArgv(std::vector<std::string> args) const;

  std::string source_dir_, arch_, dir_, display_;
  bool started_ = false;
  pid_t watchdog_ = -1;  // stops the prefix should this process die unawares
  int watchdog_pipe_ = -1;
};

// HKEY_LOCAL_MACHINE\KEY through `reg query /s`, or its one value NAME
// through `reg query /v`: lines "KEY" and "KEY NAME TYPE DATA", KEY without
// its root; none when there is no such key or value.
std::vector<std::string> RegLines(const WinePrefix& prefix, const std::string& key,
                                  const std::string& name = "");

// A TCP port of loopback that nothing uses now; 0 when none was found.
uint16_t FreePort();

}  // namespace e2e
