#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

int MsSince(Clock::time_point start) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// This process's environment with the entries of `extra` replacing or
// adding variables of the same name.
std::vector<std::string> MergedEnv(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced |= x.compare(0, name.size(), name) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(&s[0]);
  p.push_back(nullptr);
  return p;
}

// In the child after fork: own process group, given fds, then exec.
[[noreturn]] void Exec(std::vector<std::string> argv, std::vector<std::string> env, int in,
                       int out, int err) {
  setpgid(0, 0);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  std::vector<char*> a = Pointers(argv), e = Pointers(env);
  execvpe(a[0], a.data(), e.data());
  _exit(127);
}

int DecodeStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

void KillGroup(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void Drain(int fd, std::string* into) {
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) into->append(buf, n);
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, int timeout_ms,
              const std::vector<std::string>& env) {
  RunResult r;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return r;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]), close(out[1]);
    return r;
  }
  std::vector<std::string> merged = MergedEnv(env);
  const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) Exec(argv, merged, devnull, out[1], err[1]);
  close(devnull), close(out[1]), close(err[1]);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  const auto start = Clock::now();
  int status = 0;
  // Waits for the process, not for the end of its output: a Wine program
  // can leave helpers behind that hold the pipes open.
  for (;;) {
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    poll(fds, 2, 50);
    Drain(out[0], &r.out);
    Drain(err[0], &r.err);
    if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
      r.exit_code = DecodeStatus(status);
      break;
    }
    if (pid <= 0 || MsSince(start) >= timeout_ms) {
      r.timed_out = pid > 0;
      KillGroup(pid);
      break;
    }
  }
  Drain(out[0], &r.out);
  Drain(err[0], &r.err);
  close(out[0]), close(err[0]);
  return r;
}

Background::Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& log_path) {
  std::vector<std::string> merged = MergedEnv(env);
  const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int sink = log >= 0 ? log : devnull;
  pid_ = fork();
  if (pid_ == 0) Exec(argv, merged, devnull, sink, sink);
  if (log >= 0) close(log);
  close(devnull);
}

Background::Background(Background&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }

Background& Background::operator=(Background&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

Background::~Background() { Kill(); }

bool Background::Wait(int timeout_ms, int* exit_code) {
  if (pid_ <= 0) return false;
  const auto start = Clock::now();
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) != pid_) {
    if (MsSince(start) >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  pid_ = -1;
  *exit_code = DecodeStatus(status);
  return true;
}

void Background::Kill() {
  KillGroup(pid_);
  pid_ = -1;
}

bool Xvfb::Start(const std::string& pid_file, const std::string& log_path) {
  pid_file_ = pid_file;
  // A server of an earlier run that ended without stopping it.
  std::ifstream old(pid_file);
  pid_t stale = 0;
  if (old >> stale && stale > 0) {
    std::ifstream comm("/proc/" + std::to_string(stale) + "/comm");
    std::string name;
    if (comm >> name && name == "Xvfb") kill(stale, SIGTERM);
  }
  int fd[2];
  if (pipe2(fd, O_CLOEXEC) != 0) return false;
  const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_ = fork();
  if (pid_ == 0) {
    // The server dies with the test, whatever ends it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(fd[1], 3);
    if (log >= 0) dup2(log, 1), dup2(log, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fd[1]);
  if (log >= 0) close(log);
  std::string number;
  pollfd p = {fd[0], POLLIN, 0};
  const auto start = Clock::now();
  while (number.find('\n') == std::string::npos && MsSince(start) < 20000) {
    if (poll(&p, 1, 200) > 0) {
      char buf[32];
      const ssize_t n = read(fd[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, n);
    }
  }
  close(fd[0]);
  if (number.find('\n') == std::string::npos) {
    Stop();
    return false;
  }
  display_ = ":" + number.substr(0, number.find('\n'));
  std::ofstream(pid_file) << pid_ << "\n";
  return true;
}

void Xvfb::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto start = Clock::now();
  while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
    if (MsSince(start) > 5000) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
  if (!pid_file_.empty()) std::remove(pid_file_.c_str());
}

bool Screenshot(const std::string& display, const std::string& png_path) {
  return Run({"import", "-display", display, "-window", "root", png_path}, 30000).exit_code == 0;
}

const std::string& WineArch(const std::string& source_dir) {
  static const std::string arch = [&] {
    const char* forced = std::getenv("ORVEL_E2E_ARCH");
    if (forced != nullptr && *forced != '\0') return std::string(forced);
    RunResult r = Run({source_dir + "/scripts/wine-prefix", "arch"}, 60000);
    if (r.exit_code != 0) std::fprintf(stderr, "%s", r.err.c_str());
    return r.out.substr(0, r.out.find('\n'));
  }();
  return arch;
}

std::string WinBinDir(const std::string& source_dir) {
  return source_dir + "/build/" + WineArch(source_dir) + "/bin";
}

// Debian's `wine` script would pick the 32-bit loader whenever it is
// installed, even on a host that cannot run it; each prefix names its own.
static std::string Loader(const std::string& arch) {
  return arch == "win64" ? "/usr/lib/wine/wine64" : "/usr/lib/wine/wine";
}

WinePrefix::WinePrefix(std::string source_dir, std::string dir, std::string display)
    : source_dir_(std::move(source_dir)),
      arch_(WineArch(source_dir_)),
      dir_(std::move(dir) + "-" + arch_),
      display_(std::move(display)) {}

std::vector<std::string> WinePrefix::Env() const {
  return {"WINEPREFIX=" + dir_,     "WINEARCH=" + arch_,   "WINELOADER=" + Loader(arch_),
          "WINEDEBUG=-all",         "WINEDLLOVERRIDES=mscoree,mshtml=",
          "LANG=ja_JP.UTF-8",       "LC_ALL=ja_JP.UTF-8",  "DISPLAY=" + display_};
}

bool WinePrefix::Create() {
  return Run({source_dir_ + "/scripts/wine-prefix", "create", dir_}, 300000, Env()).exit_code == 0;
}

bool WinePrefix::Start() {
  // A wineserver of an earlier run that ended without stopping it.
  Stop();
  started_ = Run({source_dir_ + "/scripts/wine-prefix", "start", dir_}, 120000, Env()).exit_code == 0;
  // The watchdog reads end-of-file once this process is gone, however it
  // ended (a CTest time-out kills it), and then stops the prefix.
  int fd[2];
  if (started_ && pipe2(fd, O_CLOEXEC) == 0) {
    std::vector<std::string> argv = {source_dir_ + "/scripts/wine-prefix", "stop", dir_};
    std::vector<std::string> env = MergedEnv(Env());
    watchdog_ = fork();
    if (watchdog_ == 0) {
      setpgid(0, 0);  // outside a kill of the test's process group
      close(fd[1]);
      char c;
      while (read(fd[0], &c, 1) > 0) {
      }
      const int devnull = open("/dev/null", O_RDWR);
      Exec(argv, env, devnull, devnull, devnull);
    }
    close(fd[0]);
    watchdog_pipe_ = fd[1];
  }
  return started_;
}

void WinePrefix::Stop() {
  Run({source_dir_ + "/scripts/wine-prefix", "stop", dir_}, 60000, Env());
  started_ = false;
  if (watchdog_ > 0) {
    kill(watchdog_, SIGKILL);
    waitpid(watchdog_, nullptr, 0);
    watchdog_ = -1;
  }
  if (watchdog_pipe_ >= 0) close(watchdog_pipe_);
  watchdog_pipe_ = -1;
}

RunResult WinePrefix::Wine(const std::vector<std::string>& args, int timeout_ms) const {
  std::vector<std::string> argv = {Loader(arch_)};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, timeout_ms, Env());
}

Background WinePrefix::WineInBackground(const std::vector<std::string>& args,
                                        const std::string& log_path) const {
  std::vector<std::string> argv = {Loader(arch_)};
  argv.insert(argv.end(), args.begin(), args.end());
  return Background(argv, Env(), log_path);
}

bool WinePrefix::ImportRegistry(const std::string& reg_text) const {
  const std::string name = "e2e_import.reg";
  std::ofstream(dir_ + "/drive_c/" + name, std::ios::binary) << reg_text;
  return Wine({"regedit", "/s", "C:\\" + name}).exit_code == 0;
}

bool WinePrefix::RegQuery(const std::string& key, std::string* out) const {
  RunResult r = Wine({"reg", "query", key, "/s"});
  *out = r.out;
  return r.exit_code == 0;
}

}  // namespace e2e
