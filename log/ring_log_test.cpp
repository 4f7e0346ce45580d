#include "log/ring_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "log/log_test_support.h"
#include "log/ring_reader.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace {

using namespace logtest;

// The writer program built beside this test.
std::string HelperPath() {
  const std::string self = platform::CurrentProgramPath();
  return self.substr(0, self.find_last_of("/\\") + 1) + "ring_log_writer";
}

const char kStamp[] = "2001/10/05 01:39:14.007";

std::string RecordLine(const std::string& text) {
  std::string line = std::string(kStamp) + " " + text;
  line.resize(80, ' ');
  return line + "\r\n";
}

class RingLogFile : public ::testing::Test {
 protected:
  ScratchLogDir dir_;
  std::string path_ = dir_.Path("QX_WOL_A.LOG");
};

TEST_F(RingLogFile, FirstRecordCreatesHeaderRecordAndBlank) {
  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, "ORVEL/TAV Agent Start"), 1);
  const std::string bytes = ReadAll(path_);
  ASSERT_EQ(bytes.size(), 246u);
  EXPECT_EQ(Slot(bytes, 0), HeaderLine("0002"));
  EXPECT_EQ(Slot(bytes, 1), RecordLine("ORVEL/TAV Agent Start"));
  EXPECT_EQ(Slot(bytes, 2), BlankLine());
}

TEST_F(RingLogFile, FillsTheLastSlotsAndWraps) {
  // A ring whose header says 1998: slots 1..1997 hold old records.
  std::string ring = HeaderLine("1998");
  for (int i = 1; i < 1998; ++i) ring += RecordLine("old " + std::to_string(i));
  WriteAll(path_, ring);

  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, "r1998"), 1);
  std::string bytes = ReadAll(path_);
  ASSERT_EQ(bytes.size(), 164000u);
  EXPECT_EQ(Slot(bytes, 0), HeaderLine("1999"));
  EXPECT_EQ(Slot(bytes, 1998), RecordLine("r1998"));
  EXPECT_EQ(Slot(bytes, 1999), BlankLine());

  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, "r1999"), 1);
  bytes = ReadAll(path_);
  ASSERT_EQ(bytes.size(), 164000u);
  EXPECT_EQ(bytes.substr(163918, 82), RecordLine("r1999"));
  EXPECT_EQ(Slot(bytes, 1), BlankLine()) << "the oldest record makes room";
  EXPECT_EQ(Slot(bytes, 0), HeaderLine("0001"));

  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, "wrapped"), 1);
  bytes = ReadAll(path_);
  EXPECT_EQ(Slot(bytes, 1), RecordLine("wrapped"));
  EXPECT_EQ(Slot(bytes, 2), BlankLine());
  EXPECT_EQ(Slot(bytes, 0), HeaderLine("0002"));
  EXPECT_EQ(Slot(bytes, 3), RecordLine("old 3"));
}

TEST_F(RingLogFile, ForeignFileIsTakenOverInPlaceAndNeverTruncated) {
  const std::string foreign(3000, 'z');
  WriteAll(path_, foreign);
  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, "taken over"), 1);
  const std::string bytes = ReadAll(path_);
  ASSERT_EQ(bytes.size(), 3000u);
  EXPECT_EQ(Slot(bytes, 0), HeaderLine("0002"));
  EXPECT_EQ(Slot(bytes, 1), RecordLine("taken over"));
  EXPECT_EQ(Slot(bytes, 2), BlankLine());
  EXPECT_EQ(bytes.substr(246), foreign.substr(246));
}

TEST_F(RingLogFile, HeadersThatNameNoValidSlotRestartAtSlotOne) {
  const char* headers[] = {"0000", "2000", "9999", "12a4", " 123", "-001"};
  for (const char* digits : headers) {
    std::string ring = HeaderLine(digits);
    for (int i = 1; i < 10; ++i) ring += RecordLine("old");
    WriteAll(path_, ring);
    ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, "new"), 1) << digits;
    const std::string bytes = ReadAll(path_);
    EXPECT_EQ(Slot(bytes, 1), RecordLine("new")) << digits;
    EXPECT_EQ(Slot(bytes, 2), BlankLine()) << digits;
    EXPECT_EQ(Slot(bytes, 0), HeaderLine("0002")) << digits;
    EXPECT_EQ(bytes.size(), 820u) << digits;
  }
}

TEST_F(RingLogFile, ShortFileIsNotReadEvenWithAValidHeaderStart) {
  for (size_t size : {1u, 20u, 83u}) {
    WriteAll(path_, HeaderLine("0005").substr(0, size));
    ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, "short"), 1);
    const std::string bytes = ReadAll(path_);
    EXPECT_EQ(bytes.size(), 246u) << size;
    EXPECT_EQ(Slot(bytes, 1), RecordLine("short")) << size;
  }
}

TEST_F(RingLogFile, TextsAreCutAfterTheir56thByte) {
  const std::string t56(56, 'x');
  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, ""), 1);
  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, t56.c_str()), 1);
  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, (t56 + "y").c_str()), 1);
  // 55 single bytes, then a double-byte character whose trail byte would
  // stand at offset 80: only its lead byte is kept.
  const std::string straddle = std::string(55, 'a') + "\x93\x64";
  ASSERT_EQ(WriteLogFile(path_.c_str(), kStamp, straddle.c_str()), 1);

  const std::string bytes = ReadAll(path_);
  EXPECT_EQ(Slot(bytes, 1), std::string(kStamp) + std::string(57, ' ') + "\r\n");
  EXPECT_EQ(Slot(bytes, 2), std::string(kStamp) + " " + t56 + "\r\n");
  EXPECT_EQ(Slot(bytes, 3), std::string(kStamp) + " " + t56 + "\r\n");
  EXPECT_EQ(Slot(bytes, 4), std::string(kStamp) + " " + std::string(55, 'a') + "\x93\r\n");
}

TEST_F(RingLogFile, MissingDirectoryWritesNothing) {
  const std::string path = dir_.Path("no-such-dir") + "/QX_WOL_A.LOG";
  EXPECT_EQ(WriteLogFile(path.c_str(), kStamp, "lost"), 0);
  EXPECT_FALSE(fs::exists(dir_.Path("no-such-dir")));
}

class WriteLogTest : public ::testing::Test {
 protected:
  ScratchLogDir dir_;
};

TEST_F(WriteLogTest, EachKindWritesItsOwnFileWithALocalTimestamp) {
  const char* files[] = {"QX_WOL_A.LOG", "QX_WOL_M.LOG", "QX_WOL_D.LOG", "TAVANLOG.TXT",
                         "TAVSCLOG.TXT"};
  for (uint32_t kind = 0; kind < 5; ++kind) {
    ASSERT_EQ(WriteLog("hello", kind), 1) << kind;
    const std::string bytes = ReadAll(dir_.Path(files[kind]));
    ASSERT_EQ(bytes.size(), 246u) << files[kind];
    const std::string line = Slot(bytes, 1);
    EXPECT_TRUE(std::regex_match(
        line, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} hello {51}\r\n)")))
        << line;
  }
}

TEST_F(WriteLogTest, KindOutsideTheTableTouchesNoFile) {
  EXPECT_EQ(WriteLog("nowhere", 5), 0);
  EXPECT_EQ(WriteLog("nowhere", 0xFFFFFFFFu), 0);
  EXPECT_TRUE(fs::is_empty(dir_.dir()));
  EXPECT_EQ(FindLogKind(5), nullptr);
}

TEST_F(WriteLogTest, DirectoryTooLongForThePathBufferSkipsTheRecord) {
  // 249 bytes of directory + 12 of file name + NUL does not fit 261 bytes.
  std::string long_dir = dir_.dir().string() + "/";
  long_dir.resize(249, 'd');
  std::snprintf(szLogDir, sizeof szLogDir, "%s", long_dir.c_str());
  EXPECT_EQ(WriteLog("too long", LOG_AGENT), 0);
  EXPECT_TRUE(fs::is_empty(dir_.dir()));
}

TEST_F(WriteLogTest, BusyMutexDropsTheRecordAfterAbout200ms) {
  std::atomic<bool> held{false}, done{false};
  std::thread holder([&] {
    platform::NamedMutex m = platform::NamedMutex::Open("QX_WOL_AGT_LOG_MUTEX");
    ASSERT_EQ(m.Wait(1000), platform::WaitResult::kAcquired);
    held = true;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    m.Release();
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto start = std::chrono::steady_clock::now();
  const int written = WriteLog("dropped", LOG_AGENT);
  const auto waited = std::chrono::steady_clock::now() - start;
  done = true;
  holder.join();
  EXPECT_EQ(written, 0);
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
  EXPECT_FALSE(fs::exists(dir_.Path("QX_WOL_A.LOG")));
  // Released again, the next record is written.
  EXPECT_EQ(WriteLog("written", LOG_AGENT), 1);
}

// A writer that ends while it holds the mutex leaves it abandoned; the next
// writer still gets it, whether the owner was a thread or a whole process.
TEST_F(WriteLogTest, AbandonedMutexStillGetsTheRecord) {
  std::thread owner([] {
    platform::NamedMutex m = platform::NamedMutex::Open("QX_WOL_AGT_USR_LOG_MUTEX");
    ASSERT_EQ(m.Wait(1000), platform::WaitResult::kAcquired);
    // Leaked on purpose: the thread ends without releasing.
    new platform::NamedMutex(std::move(m));
  });
  owner.join();
  EXPECT_EQ(WriteLog("after thread", LOG_AGENT_USER), 1);

  const std::string cmd = "\"" + HelperPath() + "\" --die-holding QX_WOL_AGT_USR_LOG_MUTEX";
  platform::Process p = platform::Process::Start(cmd.c_str());
  ASSERT_TRUE(p.valid());
  ASSERT_TRUE(p.Wait(10000));
  uint32_t code = 1;
  ASSERT_TRUE(p.ExitCode(&code));
  ASSERT_EQ(code, 0u) << "the helper could not take the mutex";
  EXPECT_EQ(WriteLog("after process", LOG_AGENT_USER), 1);

  const std::string bytes = ReadAll(dir_.Path("TAVANLOG.TXT"));
  EXPECT_EQ(Slot(bytes, 1).substr(24, 12), "after thread");
  EXPECT_EQ(Slot(bytes, 2).substr(24, 13), "after process");
}

// The texts "W<writer> <n>" that each writer reports as written, in order.
using Written = std::map<std::string, std::vector<int>>;

void CheckRing(const std::string& bytes, const Written& written, size_t total) {
  // Header invariant: the named slot is blank and every other slot is a
  // whole record.
  ASSERT_GE(bytes.size(), 164u);
  const int next = std::stoi(bytes.substr(16, 4));
  ASSERT_EQ(Slot(bytes, 0), HeaderLine(bytes.substr(16, 4).c_str()));
  EXPECT_EQ(Slot(bytes, static_cast<size_t>(next)), BlankLine());
  const std::regex record(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} (W\d+) (\d+) *\r\n)");
  for (size_t s = 1; s < bytes.size() / 82; ++s) {
    if (s == static_cast<size_t>(next)) continue;
    EXPECT_TRUE(std::regex_match(Slot(bytes, s), record)) << "slot " << s;
  }

  // Oldest first, each writer's records appear in its own order; with no
  // wrap every written record is there exactly once.
  std::vector<std::string> records;
  std::string error;
  ASSERT_TRUE(ReadRingLog(bytes, &records, &error)) << error;
  EXPECT_EQ(records.size(), std::min<size_t>(total, 1998));
  std::map<std::string, std::vector<int>> seen;
  for (const std::string& r : records) {
    std::smatch m;
    const std::string line = r + std::string(80 - r.size(), ' ') + "\r\n";
    ASSERT_TRUE(std::regex_match(line, m, record)) << r;
    seen[m[1]].push_back(std::stoi(m[2]));
  }
  for (const auto& [writer, numbers] : seen) {
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << writer;
  }
  if (total <= 1998) {
    EXPECT_EQ(seen, written);
  }
}

TEST_F(WriteLogTest, ThreadsWritingAtOnceKeepTheRingWhole) {
  for (int per_thread : {300, 700}) {  // 1200 records fit; 2800 wrap
    fs::remove(dir_.Path("QX_WOL_D.LOG"));
    Written written;
    std::mutex written_lock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        std::vector<int> mine;
        const std::string name = "W" + std::to_string(t);
        for (int i = 0; i < per_thread; ++i) {
          if (WriteLog((name + " " + std::to_string(i)).c_str(), LOG_DLL)) mine.push_back(i);
        }
        std::lock_guard<std::mutex> g(written_lock);
        written[name] = mine;
      });
    }
    for (auto& t : threads) t.join();
    size_t total = 0;
    for (const auto& [w, n] : written) total += n.size();
    EXPECT_GT(total, 0u);
    CheckRing(ReadAll(dir_.Path("QX_WOL_D.LOG")), written, total);
  }
}

TEST_F(WriteLogTest, ProcessesWritingAtOnceKeepTheRingWhole) {
  std::vector<platform::Process> children;
  for (int w = 0; w < 3; ++w) {
    const std::string cmd = "\"" + HelperPath() + "\" \"" + dir_.dir().string() + "\" " +
                            std::to_string(w) + " 300";
    children.push_back(platform::Process::Start(cmd.c_str()));
    ASSERT_TRUE(children.back().valid()) << cmd;
  }
  for (auto& c : children) {
    ASSERT_TRUE(c.Wait(120000));
    uint32_t code = 1;
    ASSERT_TRUE(c.ExitCode(&code));
    EXPECT_EQ(code, 0u);
  }
  // Each writer lists the numbers of the records that it wrote.
  Written written;
  size_t total = 0;
  for (int w = 0; w < 3; ++w) {
    std::istringstream in(ReadAll(dir_.Path(("W" + std::to_string(w) + ".ok").c_str())));
    std::vector<int>& mine = written["W" + std::to_string(w)];
    for (int n; in >> n;) mine.push_back(n);
    total += mine.size();
  }
  EXPECT_GT(total, 0u);
  CheckRing(ReadAll(dir_.Path("QX_WOL_M.LOG")), written, total);
}

}  // namespace
