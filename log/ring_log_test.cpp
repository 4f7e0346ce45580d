#include "log/ring_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>

#include "log/log_test_support.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace {

using namespace logtest;
using Texts = std::vector<std::string>;
const std::string kStamp = "2001/10/05 01:39:14.007";

// The writer program built beside this test, with its arguments.
std::string Helper(const std::string& args) {
  const std::string self = platform::CurrentProgramPath();
  return "\"" + self.substr(0, self.find_last_of("/\\") + 1) + "ring_log_writer\" " + args;
}

class RingLogFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {  // one record; the file's bytes after it
    EXPECT_EQ(WriteLogFile(path_.c_str(), kStamp.c_str(), text.c_str()), 1) << text;
    return ReadAll(path_);
  }
  ScratchLogDir dir_;
  std::string path_ = dir_.Path("QX_WOL_A.LOG");
};

// A file whose header names no slot to continue at, a short one included, is
// written from slot 1 on, in place: what lies beyond the three lines stays.
TEST_F(RingLogFile, FileWithoutAUsableHeaderRestartsAtSlotOneInPlace) {
  std::string old;
  for (int i = 1; i < 10; ++i) old += RecordLine("old");
  std::vector<std::pair<std::string, std::string>> cases = {{"none", ""},
                                                            {"z", std::string(3000, 'z')}};
  for (const char* digits : {"0000", "2000", "9999", "12a4", " 123", "-001"}) {
    cases.push_back({digits, HeaderLine(digits) + old});
  }
  for (int n : {1, 20, 83}) cases.push_back({std::to_string(n), HeaderLine("0005").substr(0, n)});
  for (const auto& [what, before] : cases) {
    SCOPED_TRACE(what);
    fs::remove(path_);
    if (!before.empty()) WriteAll(path_, before);
    const std::string bytes = Write("new");
    ASSERT_EQ(bytes.size(), std::max<size_t>(246, before.size()));
    EXPECT_EQ(bytes.substr(0, 246), HeaderLine("0002") + RecordLine("new") + BlankLine());
    EXPECT_EQ(bytes.substr(246), before.size() > 246 ? before.substr(246) : "");
  }
}

TEST_F(RingLogFile, FillsTheLastSlotsAndWraps) {
  std::string ring = HeaderLine("1998");  // slots 1..1997 hold old records
  for (int i = 1; i < 1998; ++i) ring += RecordLine("old " + std::to_string(i));
  WriteAll(path_, ring);
  std::string bytes = Write("r1998");
  ASSERT_EQ(bytes.size(), 164000u);
  EXPECT_EQ(Slot(bytes, 0), HeaderLine("1999"));
  EXPECT_EQ(bytes.substr(1998 * 82), RecordLine("r1998") + BlankLine());
  bytes = Write("r1999");
  ASSERT_EQ(bytes.size(), 164000u);
  EXPECT_EQ(Slot(bytes, 0) + Slot(bytes, 1) + Slot(bytes, 1999),
            HeaderLine("0001") + BlankLine() + RecordLine("r1999"));  // the oldest makes room
  EXPECT_EQ(Write("wrapped").substr(0, 4 * 82),
            HeaderLine("0002") + RecordLine("wrapped") + BlankLine() + RecordLine("old 3"));
}

TEST_F(RingLogFile, TextsAreCutAfterTheir56thByte) {
  const std::string stamp = kStamp + " ", t56(56, 'x');
  Write("");
  Write(t56);
  Write(t56 + "y");
  // 55 single bytes, then a double-byte character whose trail byte would
  // stand at offset 80: only its lead byte is kept.
  EXPECT_EQ(Write(std::string(55, 'a') + "\x93\x64").substr(82, 4 * 82),
            Line80(stamp) + stamp + t56 + "\r\n" + stamp + t56 + "\r\n" + stamp +
                std::string(55, 'a') + "\x93\r\n");
}

// Each kind has its own file and its own named mutex: held elsewhere, the
// mutex makes the writer drop its record after about 200 ms.
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
    int dropped = -1;
    std::chrono::steady_clock::duration waited;
    std::thread([&] {
      const auto start = std::chrono::steady_clock::now();
      dropped = WriteLog("dropped", kind);
      waited = std::chrono::steady_clock::now() - start;
    }).join();
    m.Release();
    EXPECT_EQ(dropped, 0);
    EXPECT_GE(waited, std::chrono::milliseconds(150));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_EQ(WriteLog("hello", kind), 1);
    EXPECT_EQ(dir.Texts(kinds[kind][0]), Texts{"hello"});
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.dir()), {}), 5) << "a file per kind, no other";
}

TEST(WriteLog, MissingDirectoryOrOneTooLongForThePathBufferSkipsTheRecord) {
  ScratchLogDir dir;
  // 249 bytes of directory + 12 of file name + NUL does not fit 261 bytes.
  std::string too_long = dir.dir().string() + "/";
  too_long.resize(249, 'd');
  for (const std::string& log_dir : {dir.Path("missing") + "/", too_long}) {
    std::snprintf(szLogDir, sizeof szLogDir, "%s", log_dir.c_str());
    EXPECT_EQ(WriteLog("lost", LOG_AGENT), 0) << log_dir;
    EXPECT_TRUE(fs::is_empty(dir.dir())) << log_dir;
  }
}

// A writer that ends while it holds the mutex leaves it abandoned; the next
// writer still gets it, whether the owner was a thread or a whole process.
TEST(WriteLog, AbandonedMutexStillGetsTheRecord) {
  ScratchLogDir dir;
  platform::WaitResult taken = platform::WaitResult::kFailed;
  std::thread([&] {
    platform::NamedMutex m = platform::NamedMutex::Open("QX_WOL_AGT_USR_LOG_MUTEX");
    taken = m.Wait(1000);
    new platform::NamedMutex(std::move(m));  // leaked: the thread ends holding it
  }).join();
  ASSERT_EQ(taken, platform::WaitResult::kAcquired);
  EXPECT_EQ(WriteLog("after thread", LOG_AGENT_USER), 1);
  platform::Process p =
      platform::Process::Start(Helper("--die-holding QX_WOL_AGT_USR_LOG_MUTEX").c_str());
  uint32_t code = 1;
  ASSERT_TRUE(p.valid() && p.Wait(10000) && p.ExitCode(&code) && code == 0) << "helper: " << code;
  EXPECT_EQ(WriteLog("after process", LOG_AGENT_USER), 1);
  EXPECT_EQ(dir.Texts("TAVANLOG.TXT"), Texts({"after thread", "after process"}));
}

// The numbers n of the records "W<writer> n" that each writer reports written.
using Written = std::map<std::string, std::vector<int>>;

// The slot that the header names is blank; oldest first, every record is
// whole and each writer's records keep its order; without a wrap every
// record written is there, once.
void CheckRing(const std::string& bytes, const Written& written) {
  size_t total = 0;
  for (const auto& w : written) total += w.second.size();
  std::vector<std::string> records;
  std::string error;
  ASSERT_TRUE(ReadRingLog(bytes, &records, &error)) << error;
  EXPECT_EQ(Slot(bytes, std::stoul(bytes.substr(16, 4))), BlankLine());
  EXPECT_EQ(records.size(), std::min<size_t>(total, 1998));
  const std::regex record(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} (W\d+) (\d+) *\r\n)");
  Written seen;
  for (const std::string& r : records) {
    std::smatch m;
    const std::string line = Line80(r);
    ASSERT_TRUE(std::regex_match(line, m, record)) << r;
    seen[m[1]].push_back(std::stoi(m[2]));
  }
  for (const auto& [writer, numbers] : seen) {
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << writer;
  }
  EXPECT_TRUE(total > 1998 || seen == written);
}

// Three threads of this process and three writer processes share one ring:
// the first round fits it, the second wraps it.
TEST(WriteLog, ThreadsAndProcessesWritingAtOnceKeepTheRingWhole) {
  ScratchLogDir dir;
  Written written;
  std::mutex written_lock;
  for (int round = 0; round < 2; ++round) {
    auto name = [&](int w) { return "W" + std::to_string(round * 10 + w); };
    std::vector<platform::Process> children;
    for (int w = 0; w < 3; ++w) {
      const std::string args = "\"" + dir.dir().string() + "\" " + std::to_string(round * 10 + w);
      children.push_back(platform::Process::Start(Helper(args + " 300").c_str()));
      ASSERT_TRUE(children.back().valid());
    }
    std::vector<std::thread> threads;
    for (int w = 3; w < 6; ++w) {
      threads.emplace_back([&, me = name(w)] {
        std::vector<int> mine;
        for (int i = 0; i < 300; ++i) {
          if (WriteLog((me + " " + std::to_string(i)).c_str(), LOG_MANAGER)) mine.push_back(i);
        }
        std::lock_guard<std::mutex> g(written_lock);
        written[me] = mine;
      });
    }
    for (auto& t : threads) t.join();
    for (int w = 0; w < 3; ++w) {
      uint32_t code = 1;
      ASSERT_TRUE(children[w].Wait(120000) && children[w].ExitCode(&code) && code == 0) << code;
      // Each writer process lists the numbers of the records that it wrote.
      std::istringstream in(ReadAll(dir.Path((name(w) + ".ok").c_str())));
      for (int n; in >> n;) written[name(w)].push_back(n);
    }
    SCOPED_TRACE(round);
    CheckRing(ReadAll(dir.Path("QX_WOL_M.LOG")), written);
  }
}

// Beyond the rings above, the reader shows a foreign remnant on one line and
// refuses, in one line, what is no ring log.
TEST(RingReader, ShowsARemnantOnOneLineAndRejectsWhatIsNotARingLog) {
  Texts records;
  std::string error, remnant = "foreign\r\ntail";
  remnant.resize(82, ' ');
  const std::string ring = HeaderLine("0002") + RecordLine("x") + BlankLine() + remnant;
  ASSERT_TRUE(ReadRingLog(ring, &records, &error));
  EXPECT_EQ(records, Texts({"foreign  tail", kStamp + " x"}));
  for (const std::string& bytes :
       Texts{"", "hello", HeaderLine("0002"), HeaderLine("0000") + BlankLine(),
             HeaderLine("2000") + BlankLine(), HeaderLine("00x1") + BlankLine(),
             std::string(500, 0)}) {
    error.clear();
    EXPECT_FALSE(ReadRingLog(bytes, &records, &error));
    EXPECT_TRUE(!error.empty() && error.find('\n') == std::string::npos) << error;
  }
}

}  // namespace
