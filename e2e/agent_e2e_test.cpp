// The agent end to end: PWRAGENT.exe as a real service in Wine's service
// manager, driven over loopback like the manager console drives it, its logs
// read from the prefix. The listener scenarios run once more against the
// Linux build of the agent.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/agent_peer.h"
#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

const std::string kSource = ORVEL_SOURCE_DIR;
// 127.0.0.1 as the agent writes it: sin_addr read as one little-endian word.
const char kLoopbackHex[] = "100007f";

std::string Line(const char* text) { return std::string(text) + " IPaddress " + kLoopbackHex; }

// ---- Listener scenarios, the same for the Windows and the Linux agent.

void ExpectMacAndUnknownCommand(const AgentSite& a) {
  Manager m(a.port);
  ASSERT_TRUE(m.connected());
  // No adapter owns 127.0.0.1: status 2, no data, 40 bytes exactly.
  EXPECT_EQ(m.Ask(Request(CMD_MAC), 48), NoMacReply());
  // Command 3 gets code 0, status 1, and the connection keeps serving.
  EXPECT_EQ(m.Ask(Request(3), 40), UnknownCommandReply());
  EXPECT_TRUE(m.Quiet(200));
  EXPECT_EQ(m.Ask(Request(CMD_MAC), 40), NoMacReply());
  EXPECT_TRUE(a.WaitForTrace(Line("Error recv() : Invalid Command")));
  EXPECT_TRUE(a.WaitForTrace(Line("MAC Command Received :")));
}

void ExpectMalformedRequestsClosed(const AgentSite& a) {
  struct Case {
    const char* name;
    Bytes request;
    const char* trace;
  };
  Bytes two_nuls = Request(CMD_MAC), trailing = Request(CMD_MAC), v2 = Request(CMD_MAC),
        v257 = Request(CMD_MAC);
  two_nuls[6] = 0;   // "QX/WOL" NUL NUL
  trailing[7] = 'X';  // "QX/WOL " and a non-NUL byte
  v2[8] = 2;
  v257[9] = 1;  // 01 01 00 00
  const Case cases[] = {
      {"header id QX/WOL + 2 NULs", two_nuls, "Error recv() : Invalid HeaderID"},
      {"header id QX/WOL + space + X", trailing, "Error recv() : Invalid HeaderID"},
      {"version 2", v2, "Error recv() : Invalid Data Version"},
      {"version 257", v257, "Error recv() : Invalid Data Version"},
      {"39 bytes", Request(CMD_MAC, 39), "Error recv() : Invalid Data Length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = Count(LogTexts(a.trace()), Line(c.trace));
    Manager m(a.port);
    ASSERT_TRUE(m.connected());
    ASSERT_TRUE(m.Send(c.request));
    EXPECT_TRUE(m.ClosedWithoutReply());
    const auto start = Clock::now();
    while (Count(LogTexts(a.trace()), Line(c.trace)) == before && SecondsSince(start) < 5) {
      SleepMs(50);
    }
    EXPECT_EQ(Count(LogTexts(a.trace()), Line(c.trace)), before + 1);
  }
}

void ExpectFraming(const AgentSite& a) {
  Manager m(a.port);
  ASSERT_TRUE(m.connected());
  // 40 to 48 bytes are one request each; what follows the head is not read.
  for (size_t size = 40; size <= 48; ++size) {
    SCOPED_TRACE(size);
    Bytes r = Request(CMD_MAC, size);
    for (size_t i = 40; i < size; ++i) r[i] = 0xEE;
    ASSERT_EQ(m.Ask(r, 40), NoMacReply());
    ASSERT_TRUE(m.Quiet(100));
  }
  // 88 bytes at once: a request of 48, and the next 40 are the next request.
  Bytes two = Request(CMD_MAC, 48);
  const Bytes off_head = Request(3);
  two.insert(two.end(), off_head.begin(), off_head.end());
  Bytes both = NoMacReply();
  const Bytes unknown = UnknownCommandReply();
  both.insert(both.end(), unknown.begin(), unknown.end());
  EXPECT_EQ(m.Ask(two, 80), both);
  EXPECT_TRUE(m.Quiet(100));

  // 50 bytes: the 2 beyond 48 arrive as a request of their own, too short.
  Manager n(a.port);
  ASSERT_TRUE(n.connected());
  EXPECT_EQ(n.Ask(Request(CMD_MAC, 50), 40), NoMacReply());
  EXPECT_TRUE(n.ClosedWithoutReply());
}

void ExpectMacMacOffInTurn(const AgentSite& a) {
  const size_t cancelled_before = Count(LogTexts(a.oplog()), "電源OFF取り消し");
  Manager m(a.port);
  ASSERT_TRUE(m.connected());
  // Sent one after another (together they would break the one-receive
  // framing), each is answered in turn.
  EXPECT_EQ(m.Ask(Request(CMD_MAC), 40), NoMacReply());
  EXPECT_EQ(m.Ask(Request(CMD_MAC), 40), NoMacReply());
  EXPECT_EQ(m.Ask(Request(CMD_OFF), 40), OffReply());
  // The countdown program cancels; then the same connection reads again.
  EXPECT_TRUE(a.WaitForTrace("CountDown() finished : Code = 0", 30000));
  EXPECT_EQ(m.Ask(Request(CMD_MAC), 40), NoMacReply());
  const std::vector<std::string> op = LogTexts(a.oplog());
  EXPECT_EQ(Count(op, "電源OFFコマンド受信(IPアドレス：127.0.0.1)"), 1u);
  EXPECT_EQ(Count(op, "電源OFF取り消し"), cancelled_before + 1);
  const std::vector<std::string> t = LogTexts(a.trace());
  EXPECT_EQ(Count(t, Line("OFF Command Received :")), 1u);
}

void ExpectTwoManagersAndAThird(const AgentSite& a) {
  Manager first(a.port), second(a.port);
  ASSERT_TRUE(first.connected());
  ASSERT_TRUE(second.connected());
  // Both connections are held open by their threads; both are served.
  EXPECT_EQ(second.Ask(Request(CMD_MAC), 40), NoMacReply());
  EXPECT_EQ(first.Ask(Request(CMD_MAC), 40), NoMacReply());
  Manager third(a.port);
  ASSERT_TRUE(third.connected());
  EXPECT_EQ(third.Ask(Request(3), 40), UnknownCommandReply());
  EXPECT_EQ(first.Ask(Request(CMD_MAC), 40), NoMacReply());
}

// The trace of a stop with no thread left after the wait.
void ExpectCleanStopTrace(const AgentSite& a) {
  const std::vector<std::string> t = LogTexts(a.trace());
  ASSERT_GE(t.size(), 6u);
  EXPECT_EQ(t.front(), "ORVEL/TAV Agent Start");
  EXPECT_EQ(t.back(), "ORVEL/TAV Agent End");
  EXPECT_EQ(t[t.size() - 2], "FreeList OK");
  EXPECT_EQ(t[t.size() - 3], "dwThreadEnd = 1");
  EXPECT_EQ(t[t.size() - 4].rfind("WSACleanup() : Return Code = 0,", 0), 0u) << t[t.size() - 4];
  EXPECT_EQ(t[t.size() - 5], " ThreadCnt = 0");
  EXPECT_EQ(Count(t, "Thread_Timer >= 20 ThreadCnt = 0"), 0u);
  EXPECT_EQ(Count(t, "AcceptThreadProc accept()中断 : dwAgentEnd = 1"), 1u);
  const std::vector<std::string> op = LogTexts(a.oplog());
  ASSERT_FALSE(op.empty());
  EXPECT_EQ(op.front(), "エージェント起動");
  EXPECT_EQ(op.back(), "エージェント終了");
}

// The trace of a stop while a connection idles in its receive.
void ExpectTimedOutStopTrace(const AgentSite& a) {
  const std::vector<std::string> t = LogTexts(a.trace());
  ASSERT_GE(t.size(), 7u);
  EXPECT_EQ(t.back(), "ORVEL/TAV Agent End");
  EXPECT_EQ(Count(t, "Thread_Timer >= 20 ThreadCnt = 1"), 1u);
  EXPECT_EQ(Count(t, "                 dwThreadEnd = 1"), 1u);
  EXPECT_EQ(Count(t, " ThreadCnt = 1"), 1u);
  // The idle thread may still read the adapter list: it is not freed.
  EXPECT_EQ(Count(t, "FreeList() skipped : ThreadCnt = 1"), 1u);
  EXPECT_EQ(Count(t, "FreeList OK"), 0u);
}

// ---- The Windows agent as a service under Wine.

class AgentUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new e2e::WinePrefix(kSource, kSource + "/build/wine/agent-e2e", "");
    ASSERT_TRUE(prefix_->Create());
    ASSERT_TRUE(prefix_->Start());
    ASSERT_TRUE(InstallAgentService(*prefix_, kSource, {"PWRAGENT.exe"}, &site_));
    ASSERT_TRUE(WriteAgentKey());
  }

  static void TearDownTestSuite() {
    if (prefix_) prefix_->Stop();
    delete prefix_;
    prefix_ = nullptr;
  }

  static e2e::RunResult Wine(const std::vector<std::string>& args, int timeout_ms = 60000) {
    return prefix_->Wine(args, timeout_ms);
  }

  static void WriteServicesEntry(bool present) {
    e2e::WriteServicesEntry(*prefix_, present ? site_.port : 0);
  }

  // LogFilePath in the prefix (also after a scenario deleted the key); a
  // countdown program that cancels at once, so an accepted OFF never powers
  // off even this prefix.
  static bool WriteAgentKey() {
    return Wine({"reg", "add", kAgentKey, "/v", "LogFilePath", "/t", "REG_SZ", "/d",
                 "C:\\ORVEL\\LOG", "/f"}).exit_code == 0 &&
           Wine({"reg", "add", kAgentKey, "/v", "CountdownCmd", "/t", "REG_SZ", "/d",
                 "C:\\windows\\system32\\cmd.exe /c exit 1", "/f"}).exit_code == 0;
  }

  static void RemoveLogs(const fs::path& dir) {
    fs::remove(dir / "QX_WOL_A.LOG");
    fs::remove(dir / "TAVANLOG.TXT");
  }

  static std::string State() { return AgentServiceState(*prefix_); }

  // Starts the service and waits for its port (when it should open one).
  static void StartService(bool expect_port = true) {
    ASSERT_EQ(State(), "STOPPED");
    ASSERT_TRUE(StartAgentService(*prefix_, expect_port ? site_.port : 0))
        << "the agent does not listen";
  }

  // Seconds from the stop control until the service reports stopped.
  static double StopService() { return StopAgentService(*prefix_); }

  static e2e::WinePrefix* prefix_;
  static AgentSite site_;
};

e2e::WinePrefix* AgentUnderWine::prefix_ = nullptr;
AgentSite AgentUnderWine::site_;

TEST_F(AgentUnderWine, ServesTheManagerAndStopsInAboutASecond) {
  RemoveLogs(site_.log_dir);
  StartService();
  ASSERT_EQ(State(), "RUNNING");
  {
    const std::vector<std::string> t = LogTexts(site_.trace());
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.front(), "ORVEL/TAV Agent Start");
    EXPECT_EQ(LogTexts(site_.oplog()), std::vector<std::string>{"エージェント起動"});
  }
  {
    SCOPED_TRACE("MAC and unknown command");
    ExpectMacAndUnknownCommand(site_);
  }
  {
    SCOPED_TRACE("malformed requests");
    ExpectMalformedRequestsClosed(site_);
  }
  {
    SCOPED_TRACE("framing");
    ExpectFraming(site_);
  }
  {
    SCOPED_TRACE("MAC, MAC, OFF");
    ExpectMacMacOffInTurn(site_);
  }
  {
    SCOPED_TRACE("two managers");
    ExpectTwoManagersAndAThird(site_);
  }
  // Connections above are closed; their threads end on their own.
  SleepMs(500);
  const double seconds = StopService();
  // One 1000 ms pause of the wait, plus what sc and the polling cost.
  EXPECT_LT(seconds, 6.0);
  EXPECT_EQ(State(), "STOPPED");
  ExpectCleanStopTrace(site_);
  EXPECT_FALSE(Listening(site_.port));
}

TEST_F(AgentUnderWine, StopWhileAConnectionIdlesWaitsTwentySeconds) {
  RemoveLogs(site_.log_dir);
  StartService();
  Manager idle(site_.port);
  ASSERT_TRUE(idle.connected());
  ASSERT_TRUE(site_.WaitForTrace(Line("Connection Established :")));
  const double seconds = StopService();
  EXPECT_GE(seconds, 19.5);
  EXPECT_LT(seconds, 30.0);
  EXPECT_EQ(State(), "STOPPED");
  ExpectTimedOutStopTrace(site_);
}

TEST_F(AgentUnderWine, WithoutServicesEntryOrAgentKeyItRunsWithoutPortAndLogsInItsDirectory) {
  // ".\" is the service's current directory. Windows starts services in
  // %SystemRoot%\system32; Wine's service manager starts them in C:\windows.
  const fs::path cwd = fs::path(prefix_->dir()) / "drive_c/windows";
  RemoveLogs(cwd);
  RemoveLogs(site_.log_dir);
  WriteServicesEntry(false);
  ASSERT_EQ(Wine({"reg", "delete", kAgentKey, "/f"}).exit_code, 0);
  StartService(false);
  AgentSite here = site_;
  here.log_dir = cwd;
  std::string line;
  EXPECT_TRUE(here.WaitForTracePrefix("Error getservbyname() : Code = ", &line)) << line;
  SleepMs(300);
  EXPECT_EQ(State(), "RUNNING");
  EXPECT_FALSE(Listening(site_.port));
  EXPECT_LT(StopService(), 6.0);
  const std::vector<std::string> t = LogTexts(here.trace());
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.front(), "ORVEL/TAV Agent Start");
  EXPECT_EQ(t.back(), "ORVEL/TAV Agent End");
  EXPECT_EQ(Count(t, " ThreadCnt = 0"), 1u);
  EXPECT_EQ(LogTexts(here.oplog()), (std::vector<std::string>{"エージェント起動", "エージェント終了"}));
  EXPECT_FALSE(fs::exists(site_.trace()));

  WriteServicesEntry(true);
  ASSERT_TRUE(WriteAgentKey());
  RemoveLogs(cwd);
}

TEST_F(AgentUnderWine, StartedFromAShellLogsTheDispatcherErrorAndEnds) {
  RemoveLogs(site_.log_dir);
  const e2e::RunResult r = Wine({"C:\\ORVEL\\PWRAGENT.exe"}, 30000);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  site_.WaitForTrace("Error StartServiceCtrlDispatcher() : Code = 1063", 5000);
  // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
  EXPECT_EQ(LogTexts(site_.trace()),
            std::vector<std::string>{"Error StartServiceCtrlDispatcher() : Code = 1063"});
  EXPECT_FALSE(fs::exists(site_.oplog()));
}

// ---- The Linux agent: the same listener scenarios, and SIGTERM as the stop.

class AgentNative : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kSource + "/build/native/agent-e2e";
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "log");
    site_.log_dir = dir_ / "log";
    site_.port = FreePort();
    std::ofstream(dir_ / "services") << "QX_WOL_AGT " << site_.port << "/tcp\n";
    std::ofstream(dir_ / "agent.conf") << "LogFilePath=" << site_.log_dir.string()
                                       << "\nCountdownCmd=false\n";
  }

  void Start() {
    agent_ = e2e::Background({kSource + "/build/native/bin/pwragent"},
                             {"ORVEL_SERVICES_FILE=" + (dir_ / "services").string(),
                              "ORVEL_AGENT_CONF=" + (dir_ / "agent.conf").string()},
                             (dir_ / "agent.out").string());
    const auto start = Clock::now();
    while (!Listening(site_.port) && SecondsSince(start) < 10) SleepMs(20);
    ASSERT_TRUE(Listening(site_.port));
  }

  double Stop() {
    const auto start = Clock::now();
    kill(agent_.pid(), SIGTERM);
    int code = -1;
    EXPECT_TRUE(agent_.Wait(60000, &code));
    EXPECT_EQ(code, 0);
    return SecondsSince(start);
  }

  fs::path dir_;
  AgentSite site_;
  e2e::Background agent_;
};

TEST_F(AgentNative, ServesTheManagerAndStopsInAboutASecond) {
  Start();
  ExpectMacAndUnknownCommand(site_);
  ExpectMalformedRequestsClosed(site_);
  ExpectFraming(site_);
  ExpectMacMacOffInTurn(site_);
  ExpectTwoManagersAndAThird(site_);
  SleepMs(300);
  // One 1000 ms pause, or none when the waiting thread happens to poll right
  // after the signal.
  EXPECT_LT(Stop(), 2.5);
  ExpectCleanStopTrace(site_);
}

TEST_F(AgentNative, StopWhileAConnectionIdlesWaitsTwentySeconds) {
  Start();
  Manager idle(site_.port);
  ASSERT_TRUE(idle.connected());
  ASSERT_TRUE(site_.WaitForTrace(Line("Connection Established :")));
  const double seconds = Stop();
  EXPECT_GE(seconds, 19.9);
  EXPECT_LT(seconds, 22.0);
  ExpectTimedOutStopTrace(site_);
}

}  // namespace
