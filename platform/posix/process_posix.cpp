#include "platform/process.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"

extern char** environ;

namespace platform {

namespace {

void Reap(void* pid) {
  int status = 0;
  while (waitpid(static_cast<pid_t>(reinterpret_cast<intptr_t>(pid)), &status, 0) < 0 &&
         errno == EINTR) {
  }
}

// Words as Windows programs split their command lines, without the backslash
// rules: white space separates, double quotes group and are dropped.
std::vector<std::string> SplitCommandLine(const char* line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (const char* p = line; *p; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && (*p == ' ' || *p == '\t')) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += *p;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

}  // namespace

// The process runs on, but must not stay a zombie once it ends: a child still
// running is reaped by a small thread of its own that waits for its end.
Process::~Process() {
  if (handle_ == 0 || status_ >= 0) return;
  const pid_t pid = static_cast<pid_t>(handle_);
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) != 0) return;
  StartDetachedThread(Reap, reinterpret_cast<void*>(static_cast<intptr_t>(pid)), 64 * 1024);
}

Process Process::Start(const char* command_line) {
  Process p;
  std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty()) {
    errno = ENOENT;
    return p;
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  // A program that cannot be run fails here, as CreateProcessA does, rather
  // than as a child that exits 127.
  const int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    errno = rc;
    return p;
  }
  p.handle_ = pid;
  return p;
}

bool ListSessions(SessionList*) { return false; }

Process Process::StartInSession(uint32_t, const char*, UserStart* how) {
  *how = UserStart{};
  return Process();
}

bool Process::Terminate() { return kill(static_cast<pid_t>(handle_), SIGTERM) == 0; }

bool Process::valid() const { return handle_ != 0; }

bool Process::ExitCode(uint32_t* code) {
  if (status_ < 0) {
    int status = 0;
    const pid_t r = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
    if (r < 0) return false;
    if (r == 0) {
      *code = kStillActive;
      return true;
    }
    status_ = status;
  }
  *code = WIFEXITED(status_) ? static_cast<uint32_t>(WEXITSTATUS(status_)) : 1u;
  return true;
}

bool Process::Wait(uint32_t timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    uint32_t code = 0;
    if (!ExitCode(&code)) return false;
    if (code != kStillActive) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string CurrentProgramPath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace platform
