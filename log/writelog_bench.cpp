// WriteLog throughput beside a baseline measured in the same run: the same
// ring update done with bare file calls (open, one 82-byte read, three 82-byte
// positioned writes, close) and no lock. Prints records per second and ratios.
//
//   writelog_bench [SECONDS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log/ring_log.h"
#include "platform/file.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Join(const fs::path& dir, const char* name) { return (dir / name).string(); }

void SetLogDir(const fs::path& dir) {
  std::snprintf(szLogDir, sizeof szLogDir, "%s%c", dir.string().c_str(),
                static_cast<char>(fs::path::preferred_separator));
}

// Runs `one` for `seconds` on each of `threads` threads; returns the count.
template <typename F>
long Run(double seconds, int threads, F one) {
  std::atomic<long> total{0};
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      long n = 0;
      while (Clock::now() < end) {
        one();
        ++n;
      }
      total += n;
    });
  }
  for (auto& t : pool) t.join();
  return total;
}

void BareRingUpdate(const std::string& path) {
  platform::File f = platform::File::OpenOrCreate(path.c_str());
  char line[LOG_LINE_SIZE];
  std::memset(line, ' ', sizeof line);
  uint32_t got = 0;
  f.ReadAt(0, line, sizeof line, &got);
  f.WriteAt(LOG_LINE_SIZE, line, sizeof line);
  f.WriteAt(2 * LOG_LINE_SIZE, line, sizeof line);
  f.WriteAt(0, line, sizeof line);
}

void WriteOne() { WriteLog("benchmark record: 0123456789 abcdefghijklmnopqrstuvwxyz", LOG_DLL); }

template <typename F>
double Best(int rounds, F measure) {
  double best = 0;
  for (int i = 0; i < rounds; ++i) {
    const double r = measure();
    if (r > best) best = r;
  }
  return best;
}

int Child(const char* dir, double seconds) {
  SetLogDir(dir);
  const long n = Run(seconds, 2, WriteOne);
  std::ofstream(Join(dir, ("child-" + std::to_string(std::rand()) + ".count").c_str())) << n;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
    std::srand(static_cast<unsigned>(Clock::now().time_since_epoch().count()));
    return Child(argv[2], std::atof(argv[3]));
  }
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  const int rounds = 3;

  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("writelog-bench-" + std::to_string(rd()));
  fs::create_directories(dir);
  SetLogDir(dir);

  const std::string bare_path = Join(dir, "BARE.LOG");
  const double baseline = Best(rounds, [&] {
    return Run(seconds, 1, [&] { BareRingUpdate(bare_path); }) / seconds;
  });
  const double one = Best(rounds, [&] { return Run(seconds, 1, WriteOne) / seconds; });
  const double four = Best(rounds, [&] { return Run(seconds, 4, WriteOne) / seconds; });
  const double procs = Best(rounds, [&] {
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() == ".count") fs::remove(e.path());
    }
    const std::string cmd = "\"" + platform::CurrentProgramPath() + "\" --child \"" +
                            dir.string() + "\" " + std::to_string(seconds);
    platform::Process a = platform::Process::Start(cmd.c_str());
    platform::Process b = platform::Process::Start(cmd.c_str());
    if (!a.valid() || !b.valid()) return 0.0;
    a.Wait(60000);
    b.Wait(60000);
    long total = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() != ".count") continue;
      long n = 0;
      std::ifstream(e.path()) >> n;
      total += n;
    }
    return total / seconds;
  });

  std::printf("WriteLog records per second, %.1f s per figure, best of %d\n", seconds, rounds);
  std::printf("  %-40s %10.0f\n", "baseline: bare ring update, no lock", baseline);
  std::printf("  %-40s %10.0f  ratio %.2f\n", "one thread", one, one / baseline);
  std::printf("  %-40s %10.0f  ratio %.2f\n", "four threads, one process", four, four / baseline);
  std::printf("  %-40s %10.0f  ratio %.2f\n", "two processes of two threads", procs,
              procs / baseline);

  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
