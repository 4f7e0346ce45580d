// A child process started from a command line, and its exit code.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

constexpr uint32_t kStillActive = 259;  // STILL_ACTIVE: the process runs on
constexpr uint32_t kNoSession = 0xFFFFFFFF;  // no user session at the console

// The sessions Windows lists (WTSEnumerateSessionsA), each with whether it
// is active (WTSActive: someone is looking), and the session attached to
// the physical console (WTSGetActiveConsoleSessionId). error: the code of
// a failed enumeration, whose list is then empty.
struct Session {
  uint32_t id;
  bool active;
};
struct SessionList {
  std::vector<Session> sessions;
  uint32_t console = kNoSession;
  uint32_t error = 0;
};

// Fills *list; false where the system has no session calls (Windows before
// XP, Linux), whose programs can only start the plain way.
bool ListSessions(SessionList* list);

// How far a start in a user's session came: the call that failed
// ("WTSQueryUserToken", ...) with its code.
struct UserStart {
  const char* failed_call = nullptr;
  uint32_t error = 0;
};

class Process {
 public:
  Process() = default;
  Process(Process&& other) noexcept { *this = std::move(other); }
  Process& operator=(Process&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(status_, other.status_);
    return *this;
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();  // closes the handle; the process itself runs on

  // Starts the command line as a new process that inherits this one's start-up
  // information, handles, environment and current directory. The first word
  // names the program: CreateProcessA on Windows; on Linux the words, split at
  // white space outside double quotes, are the arguments and the program is
  // looked up in PATH. On failure the result is not valid() and LastError()
  // tells why.
  static Process Start(const char* command_line);
  // Starts the command line as the user of the session, on that user's
  // desktop "winsta0\\default" with the user's environment, so that a
  // service's child can be seen. Not valid when the system has no session
  // calls (how->failed_call is then null) or a step failed (how tells
  // which). Linux has no such session.
  static Process StartInSession(uint32_t session, const char* command_line, UserStart* how);

  bool valid() const;
  // kStillActive while the process runs. False when the code cannot be read.
  bool ExitCode(uint32_t* code);
  // Waits for the end of the process, at most timeout_ms; true when it ended.
  bool Wait(uint32_t timeout_ms);
  // Ends the process (exit code 1 on Windows, SIGTERM on Linux).
  bool Terminate();

 private:
  intptr_t handle_ = 0;
  int status_ = -1;  // POSIX: the reaped wait status, -1 while not reaped
};

// The full path of the running program.
std::string CurrentProgramPath();

}  // namespace platform
