#include "e2e/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/socket.h"

namespace e2e {
namespace {

// Starts argv in its own process group with the given stdin, stdout and
// stderr, and `env` over this process's environment. A tied child gets
// SIGTERM when this process dies.
pid_t Spawn(std::vector<std::string> argv, const std::vector<std::string>& env, int in, int out,
            int err, bool tied = true) {
  std::vector<char*> a;
  for (std::string& s : argv) a.push_back(&s[0]);
  a.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
  setpgid(0, 0);
  if (tied) prctl(PR_SET_PDEATHSIG, SIGTERM);
  dup2(in, 0), dup2(out, 1), dup2(err, 2);
  execvp(a[0], a.data());
  _exit(127);
}

bool WaitPid(pid_t pid, int timeout_ms, int* exit_code) {
  int status = 0;
  if (pid <= 0 || !WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout_ms, 5)) {
    return false;
  }
  *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

// SIGTERM to the group, SIGKILL after 5 s.
void KillGroup(pid_t pid) {
  int ignored;
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  if (WaitPid(pid, 5000, &ignored)) return;
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::string ReadAll(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n) s.append(buf, n);
  return s;
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, int timeout_ms,
              const std::vector<std::string>& env) {
  // A file, not a pipe: a Wine program can leave helpers behind that hold
  // its output open.
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  RunResult r;
  const pid_t pid = Spawn(argv, env, in, out, out);
  if (!WaitPid(pid, timeout_ms, &r.exit_code)) KillGroup(pid);
  r.out = ReadAll(out);
  close(in), close(out);
  return r;
}

Background::Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& log_path) {
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_ = Spawn(argv, env, in, log, log);
  close(in), close(log);
}

Background::~Background() { KillGroup(pid_); }

bool Background::Wait(int timeout_ms, int* exit_code) {
  if (!WaitPid(pid_, timeout_ms, exit_code)) return false;
  pid_ = -1;
  return true;
}

Xvfb::Xvfb(const std::string& log_path)
    : Background({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                 {}, log_path) {
  // The display number is a line of its own among the server's messages.
  const auto number = [&] {
    std::ifstream log(log_path);
    for (std::string line; std::getline(log, line) && display.empty();) {
      if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
        display = ":" + line;
      }
    }
    return !display.empty();
  };
  WaitFor(number, 20000);
}

bool Screenshot(const std::string& display, const std::string& png_path) {
  return Run({"import", "-display", display, "-window", "root", png_path}, 30000).exit_code == 0;
}

const std::string& WineArch(const std::string& source_dir) {
  static const std::string arch = [&] {
    const char* forced = std::getenv("ORVEL_E2E_ARCH");
    if (forced != nullptr && *forced != '\0') return std::string(forced);
    RunResult r = Run({source_dir + "/scripts/wine-prefix", "arch"}, 60000);
    if (r.exit_code != 0) std::fprintf(stderr, "%s", r.out.c_str());
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
  // $ORVEL_WINEDEBUG, when set, turns Wine's own traces on for a failing scenario.
  const char* debug = getenv("ORVEL_WINEDEBUG");
  return {"WINEPREFIX=" + dir_,     "WINEARCH=" + arch_,   "WINELOADER=" + Loader(arch_),
          std::string("WINEDEBUG=") + (debug ? debug : "-all"), "WINEDLLOVERRIDES=mscoree,mshtml=",
          "LANG=ja_JP.UTF-8",       "LC_ALL=ja_JP.UTF-8",  "DISPLAY=" + display_};
}

bool WinePrefix::Start() {
  const std::string script = source_dir_ + "/scripts/wine-prefix";
  const RunResult made = Run({script, "create", dir_}, 300000, Env());
  if (made.exit_code != 0) {
    std::fprintf(stderr, "wine-prefix create %s: exit code %d\n%s", dir_.c_str(), made.exit_code,
                 made.out.c_str());
    return false;
  }
  Stop();  // a wineserver of an earlier run that ended without stopping it
  started_ = Run({script, "start", dir_}, 120000, Env()).exit_code == 0;
  // The watchdog reads end-of-file once this process is gone, however it
  // ended (a CTest time-out kills it), and then stops the prefix.
  int fd[2];
  if (started_ && pipe2(fd, O_CLOEXEC) == 0) {
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    watchdog_ = Spawn({"sh", "-c", "cat; exec \"$0\" stop \"$1\"", script, dir_}, Env(), fd[0],
                      devnull, devnull, /*tied=*/false);
    close(fd[0]), close(devnull);
    watchdog_pipe_ = fd[1];
  }
  return started_;
}

void WinePrefix::Stop() {
  Run({source_dir_ + "/scripts/wine-prefix", "stop", dir_}, 60000, Env());
  started_ = false;
  if (watchdog_ > 0) kill(-watchdog_, SIGKILL), waitpid(watchdog_, nullptr, 0);
  if (watchdog_pipe_ >= 0) close(watchdog_pipe_);
  watchdog_ = watchdog_pipe_ = -1;
}

std::vector<std::string> WinePrefix::WineArgv(std::vector<std::string> args) const {
  args.insert(args.begin(), Loader(arch_));
  return args;
}

RunResult WinePrefix::Wine(const std::vector<std::string>& args, int timeout_ms) const {
  return Run(WineArgv(args), timeout_ms, Env());
}

Background WinePrefix::WineInBackground(const std::vector<std::string>& args,
                                        const std::string& log_path) const {
  return Background(WineArgv(args), Env(), log_path);
}

bool WinePrefix::ImportRegistry(const std::string& reg_text) const {
  std::ofstream(dir_ + "/drive_c/e2e_import.reg", std::ios::binary) << reg_text;
  return Wine({"regedit", "/s", "C:\\e2e_import.reg"}).exit_code == 0;
}

std::vector<std::string> RegLines(const WinePrefix& prefix, const std::string& key,
                                  const std::string& name) {
  const RunResult r = name.empty() ? prefix.Wine({"reg", "query", "HKLM\\" + key, "/s"})
                                   : prefix.Wine({"reg", "query", "HKLM\\" + key, "/v", name});
  std::vector<std::string> lines;
  if (r.exit_code != 0) return lines;
  if (name.empty()) lines.push_back(key);  // Wine names it only when it holds values
  std::istringstream in(r.out);
  std::string at = key;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("HKEY_LOCAL_MACHINE\\", 0) == 0) {
      at = line.substr(19);
      if (name.empty() && at != key) lines.push_back(at);
    } else if (line.rfind("    ", 0) == 0) {
      std::string v = line.substr(4);
      for (size_t p; (p = v.find("    ")) != std::string::npos;) v.replace(p, 4, " ");
      lines.push_back(at + " " + v);
    }
  }
  return lines;
}

uint16_t FreePort() {
  platform::Socket s = platform::Socket::Create();
  platform::Ipv4Address bound{0, 0};
  if (!s.Bind(platform::Ipv4Address{htonl(INADDR_LOOPBACK), 0}) || !s.LocalAddress(&bound)) return 0;
  return ntohs(bound.port);
}

}  // namespace e2e
