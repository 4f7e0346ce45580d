#include "log/ring_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "log/log_test_support.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace {

using namespace logtest;
using namespace std::chrono_literals;
using Texts = std::vector<std::string>;
const std::string kStamp = "2001/10/05 01:39:14.007";

// Starts the writer program built beside this test.
platform::Process StartWriter(const std::string& args) {
  const std::string self = platform::CurrentProgramPath();
  const std::string dir = self.substr(0, self.find_last_of("/\\") + 1);
  return platform::Process::Start(("\"" + dir + "ring_log_writer\" " + args).c_str());
}

TEST(WriteLogFile, RestartsWithoutAHeaderFillsWrapsAndCutsTexts) {
  ScratchLogDir dir;
  const std::string path = dir.Path("QX_WOL_A.LOG");
  auto write = [&](const std::string& text) {  // one record; the file's bytes after it
    EXPECT_EQ(WriteLogFile(path.c_str(), kStamp.c_str(), text.c_str()), 1) << text;
    return ReadAll(path);
  };
  // A file whose header names no slot to continue at, a short one included, is
  // written from slot 1 on, in place: what lies beyond the three lines stays.
  Texts befores = {"", std::string(3000, 'z')};
  for (const char* digits : {"0000", "2000", "9999", "12a4", " 123", "-001"}) {
    befores.push_back(HeaderLine(digits) + std::string(9 * 82, 'o'));
  }
  for (int n : {1, 20, 83}) befores.push_back(HeaderLine("0005").substr(0, n));
  for (const std::string& before : befores) {
    SCOPED_TRACE(before.substr(0, 20));
    WriteAll(path, before);
    EXPECT_EQ(write("new"), HeaderLine("0002") + RecordLine("new") + BlankLine() +
                                (before.size() > 246 ? before.substr(246) : ""));
  }
  // Slots 1..1997 hold old records: the last two slots fill, then the oldest
  // record makes room.
  std::string olds;
  for (int i = 1; i < 1998; ++i) olds += RecordLine("old " + std::to_string(i));
  WriteAll(path, HeaderLine("1998") + olds);
  const std::string last = RecordLine("r1998") + RecordLine("r1999");
  EXPECT_EQ(write("r1998"), HeaderLine("1999") + olds + RecordLine("r1998") + BlankLine());
  EXPECT_EQ(write("r1999"), HeaderLine("0001") + BlankLine() + olds.substr(82) + last);
  EXPECT_EQ(write("wrapped"),
            HeaderLine("0002") + RecordLine("wrapped") + BlankLine() + olds.substr(164) + last);
  // Texts are cut after their 56th byte. Of a double-byte character whose trail
  // byte would stand at offset 80, only the lead byte is kept.
  const std::string t56(56, 'x'), a55(55, 'a');
  for (const std::string& text : {std::string(), t56, t56 + "y"}) write(text);
  EXPECT_EQ(write(a55 + "\x93\x64").substr(2 * 82, 5 * 82),
            RecordLine("") + RecordLine(t56) + RecordLine(t56) + RecordLine(a55 + "\x93") +
                BlankLine());
}

// Each kind has its own file and its own named mutex: held elsewhere, the
// mutex makes the writer drop its record after about 200 ms. A mutex that a
// process ended holding is still taken. Without its directory, or with one
// too long for the path buffer, the record is dropped.
TEST(WriteLog, EachKindHasItsFileAndItsMutex) {
  ScratchLogDir dir;
  EXPECT_EQ(WriteLog("nowhere", 5) + WriteLog("nowhere", 0xFFFFFFFFu), 0);
  const char* kinds[][2] = {
      {"QX_WOL_A.LOG", "QX_WOL_AGT_LOG_MUTEX"}, {"QX_WOL_M.LOG", "QX_WOL_MGR_LOG_MUTEX"},
      {"QX_WOL_D.LOG", "QX_WOL_DLL_LOG_MUTEX"}, {"TAVANLOG.TXT", "QX_WOL_AGT_USR_LOG_MUTEX"},
      {"TAVSCLOG.TXT", "QX_WOL_MGR_USR_LOG_MUTEX"}};
  for (uint32_t kind = 0; kind < 5; ++kind) {
    SCOPED_TRACE(kinds[kind][0]);
    platform::NamedMutex m = platform::NamedMutex::Open(kinds[kind][1]);
    ASSERT_EQ(m.Wait(1000), platform::WaitResult::kAcquired);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(std::async(std::launch::async, WriteLog, "dropped", kind).get(), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    m.Release();
    EXPECT_TRUE(waited >= 150ms && waited < 2000ms) << (waited / 1ms) << " ms";
    EXPECT_EQ(WriteLog("hello", kind), 1);
    EXPECT_EQ(dir.Texts(kinds[kind][0]), Texts{"hello"});
  }
  platform::Process p = StartWriter("--die-holding QX_WOL_AGT_USR_LOG_MUTEX");
  uint32_t code = 1;
  ASSERT_TRUE(p.valid() && p.Wait(10000) && p.ExitCode(&code) && code == 0) << "writer: " << code;
  EXPECT_EQ(WriteLog("after process", LOG_AGENT_USER), 1);
  EXPECT_EQ(dir.Texts("TAVANLOG.TXT"), Texts({"hello", "after process"}));
  // 249 bytes of directory + 12 of file name + NUL do not fit 261 bytes.
  std::string too_long = dir.Path("");
  too_long.resize(249, 'd');
  for (const std::string& log_dir : {dir.Path("missing") + "/", too_long}) {
    std::snprintf(szLogDir, sizeof szLogDir, "%s", log_dir.c_str());
    EXPECT_EQ(WriteLog("lost", LOG_AGENT), 0) << log_dir;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path("")), {}), 5) << "a file per kind only";
}

// A wait that fails or times out tells its own code, never one left over
// from an earlier call (here the "file not found" of a failed start).
TEST(NamedMutex, FailedOrTimedOutWaitTellsItsOwnCode) {
#ifdef _WIN32
  const uint32_t missing = 6, timed_out = 258;  // ERROR_INVALID_HANDLE, WAIT_TIMEOUT
#else
  const uint32_t missing = EBADF, timed_out = ETIMEDOUT;
#endif
  const std::string name = "ring_log_test_" + std::to_string(std::random_device()());
  platform::NamedMutex held = platform::NamedMutex::Open(name.c_str());
  ASSERT_EQ(held.Wait(0), platform::WaitResult::kAcquired);
  const auto wait = [](platform::NamedMutex m) {
    platform::Process::Start("no_such_program");
    const platform::WaitResult r = m.Wait(0);
    return std::make_pair(r, platform::LastError());
  };
  EXPECT_EQ(wait(platform::NamedMutex()), std::make_pair(platform::WaitResult::kFailed, missing));
  // Another thread, as the owner thread would take the mutex again.
  EXPECT_EQ(std::async(std::launch::async, wait, platform::NamedMutex::Open(name.c_str())).get(),
            std::make_pair(platform::WaitResult::kTimedOut, timed_out));
#ifndef _WIN32
  std::remove(("/dev/shm/orvel-" + name).c_str());
#endif
}

#ifndef _WIN32
// Only this user may open a mutex's file: whoever can map it can hold it and
// silence every log. Another user's file or a link in its place is neither
// used nor changed; the name then gets a mutex of this process alone.
TEST(NamedMutex, OnlyThisUsersFileIsUsed) {
  const std::string path = "/dev/shm/orvel-ring_log_test_" + std::to_string(std::random_device()());
  const auto taken = [](const std::string& p) {
    platform::NamedMutex m = platform::NamedMutex::Open(p.substr(15).c_str());
    return m.Wait(0) == platform::WaitResult::kAcquired;
  };
  struct stat st, before;
  EXPECT_TRUE(taken(path) && stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
  std::remove(path.c_str());
  if (geteuid() != 0) GTEST_SKIP() << "only root can make another user's file";
  WriteAll(path + "f", "");
  WriteAll(path + "t", "");
  ASSERT_TRUE(chown((path + "f").c_str(), 65534, 65534) == 0 &&
              symlink((path + "t").c_str(), (path + "l").c_str()) == 0);
  for (const char* kind : {"f", "l"}) {
    ASSERT_EQ(stat((path + kind).c_str(), &before), 0);
    EXPECT_TRUE(taken(path + kind)) << kind;
    EXPECT_TRUE(stat((path + kind).c_str(), &st) == 0 && st.st_size == 0 &&
                st.st_mode == before.st_mode) << kind;
    std::remove((path + kind).c_str());
  }
  std::remove((path + "t").c_str());
}
#endif

// Three threads of this process and three writer processes share one ring:
// the first round fits it, the second wraps it. The slot that the header names
// is blank; oldest first, every record is whole and each writer's records keep
// their order; without a wrap every record written is there, once.
TEST(WriteLog, ThreadsAndProcessesWritingAtOnceKeepTheRingWhole) {
  ScratchLogDir dir;
  std::map<std::string, std::vector<int>> written;  // the n of the records "W<writer> n"
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto name = [&](int w) { return "W" + std::to_string(round * 10 + w); };
    std::vector<platform::Process> children;
    std::vector<std::thread> threads;
    for (int w = 0; w < 3; ++w) {
      children.push_back(StartWriter("\"" + dir.Path(".") + "\" " + name(w).substr(1) + " 300"));
      threads.emplace_back([&mine = written[name(w + 3)], me = name(w + 3)] {
        for (int i = 0; i < 300; ++i) {
          if (WriteLog((me + " " + std::to_string(i)).c_str(), LOG_MANAGER)) mine.push_back(i);
        }
      });
    }
    for (auto& t : threads) t.join();
    for (int w = 0; w < 3; ++w) {
      uint32_t code = 1;
      ASSERT_TRUE(children[w].valid() && children[w].Wait(120000) && children[w].ExitCode(&code) &&
                  code == 0) << code;
      // Each writer process lists the numbers of the records that it wrote.
      std::istringstream in(ReadAll(dir.Path((name(w) + ".ok").c_str())));
      for (int n; in >> n;) written[name(w)].push_back(n);
    }
    const std::string bytes = ReadAll(dir.Path("QX_WOL_M.LOG"));
    Texts records;
    std::string error;
    ASSERT_TRUE(ReadRingLog(bytes, &records, &error)) << error;
    EXPECT_EQ(bytes.substr(82 * std::stoul(bytes.substr(16, 4)), 82), BlankLine());
    size_t total = 0;
    for (const auto& w : written) total += w.second.size();
    EXPECT_EQ(records.size(), std::min<size_t>(total, 1998));
    const std::regex record(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} (W\d+) (\d+))");
    std::map<std::string, std::vector<int>> seen;
    for (const std::string& r : records) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(r, m, record)) << r;
      seen[m[1]].push_back(std::stoi(m[2]));
    }
    for (const auto& [w, n] : seen) EXPECT_TRUE(std::is_sorted(n.begin(), n.end())) << w;
    EXPECT_TRUE(total > 1998 || seen == written);
  }
}

}  // namespace
