// The power-off end to end: PWRAGENT.exe as a real service under Wine in a
// prefix of its own, sent OFF over loopback, with the countdown fixture as
// its countdown program. Under Wine, ExitWindowsEx ends the processes of
// this prefix only, so the scenarios that power off restart the prefix.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "agent/protocol.h"
#include "e2e/harness.h"
#include "log/operation_log.h"
#include "log/ring_reader.h"
#include "platform/socket.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

const std::string kSource = ORVEL_SOURCE_DIR;
const char kService[] = "ORVEL Nimbrel";
const char kAgentKey[] = "HKLM\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent";
const char kFixture[] = "C:\\ORVEL\\countdown_fixture.exe";
const char kStartsFile[] = "C:\\ORVEL\\LOG\\starts.txt";

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

Texts LogTexts(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Texts records, texts;
  std::string error;
  if (bytes.empty() || !ReadRingLog(bytes, &records, &error)) return texts;
  for (const std::string& r : records) texts.push_back(r.size() > 24 ? r.substr(24) : "");
  return texts;
}

size_t Count(const Texts& texts, const std::string& text) {
  size_t n = 0;
  for (const std::string& t : texts) n += (t == text);
  return n;
}

size_t CountPrefix(const Texts& texts, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& t : texts) n += t.compare(0, prefix.size(), prefix) == 0;
  return n;
}

// The texts appear in this order, other lines (of other threads) between them.
bool InOrder(const Texts& trace, const Texts& wanted) {
  size_t next = 0;
  for (const std::string& t : trace) {
    if (next < wanted.size() && t == wanted[next]) ++next;
  }
  return next == wanted.size();
}

std::string OpLog(uint32_t number, uint32_t address = 0) {
  char line[OPLOG_LINE_SIZE];
  FormatOperationLog(number, address, line);
  return line;
}

Bytes Request(uint32_t command) {
  uint8_t area[AGENT_BLOCK_SIZE];
  const uint32_t n = BuildRequest(area, command);
  return Bytes(area, area + n);
}

Bytes OffReply() {
  uint8_t area[AGENT_BLOCK_SIZE];
  return Bytes(area, area + BuildOffResponse(area));
}

Bytes NoMacReply() {
  uint8_t area[AGENT_BLOCK_SIZE];
  return Bytes(area, area + BuildMacResponse(area, nullptr));
}

uint16_t FreePort() {
  platform::Socket s = platform::Socket::Create();
  platform::Ipv4Address bound{0, 0};
  if (!s.Bind(platform::Ipv4Address{htonl(INADDR_LOOPBACK), 0}) || !s.LocalAddress(&bound)) return 0;
  return ntohs(bound.port);
}

bool Listening(uint16_t port) {
  std::ifstream tcp("/proc/net/tcp");
  char want[16];
  std::snprintf(want, sizeof want, ":%04X ", port);
  std::string line;
  while (std::getline(tcp, line)) {
    if (line.find(want) != std::string::npos && line.find(" 00000000:0000 0A ") != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The manager's side of one connection.
class Manager {
 public:
  explicit Manager(uint16_t port) : socket_(platform::Socket::Create()) {
    connected_ = socket_.Connect(platform::Ipv4Address{htonl(INADDR_LOOPBACK), htons(port)});
  }
  bool connected() const { return connected_; }
  Bytes Ask(const Bytes& request, size_t size, int timeout_ms = 10000) {
    if (socket_.Send(request.data(), static_cast<int>(request.size())) !=
        static_cast<int>(request.size())) {
      return {};
    }
    Bytes got;
    const auto start = Clock::now();
    while (got.size() < size) {
      const int left = timeout_ms - static_cast<int>(SecondsSince(start) * 1000);
      if (left <= 0 || socket_.WaitReadable(static_cast<uint32_t>(left)) != 1) break;
      uint8_t buf[64];
      const int n = socket_.Recv(buf, static_cast<int>(std::min(sizeof buf, size - got.size())));
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  void Close() { socket_.Close(); }

 private:
  platform::Socket socket_;
  bool connected_ = false;
};

class PowerOffUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new e2e::WinePrefix(kSource, kSource + "/build/wine/poweroff-e2e", "");
    ASSERT_TRUE(prefix_->Create());
    ASSERT_TRUE(prefix_->Start());
    const fs::path orvel = fs::path(prefix_->dir()) / "drive_c" / "ORVEL";
    log_dir_ = orvel / "LOG";
    fs::create_directories(log_dir_);
    for (const char* exe : {"PWRAGENT.exe", "countdown_fixture.exe"}) {
      fs::copy_file(kSource + "/build/win32/bin/" + exe, orvel / exe,
                    fs::copy_options::overwrite_existing);
    }
    port_ = FreePort();
    ASSERT_NE(port_, 0);
    const fs::path services = fs::path(prefix_->dir()) / "drive_c/windows/system32/drivers/etc/services";
    std::ifstream in(services);
    std::string kept, line;
    while (std::getline(in, line)) {
      if (line.compare(0, 11, "QX_WOL_AGT ") != 0) kept += line + "\n";
    }
    in.close();
    std::ofstream(services, std::ios::binary | std::ios::trunc)
        << kept << "QX_WOL_AGT " << port_ << "/tcp\r\n";
    ASSERT_EQ(Wine({"reg", "add", kAgentKey, "/v", "LogFilePath", "/t", "REG_SZ", "/d",
                    "C:\\ORVEL\\LOG", "/f"}).exit_code, 0);
    Wine({"sc", "delete", kService});
    ASSERT_EQ(Wine({"sc", "create", kService, "binPath=", "C:\\ORVEL\\PWRAGENT.exe"}).exit_code, 0);
  }

  static void TearDownTestSuite() {
    if (prefix_) prefix_->Stop();
    delete prefix_;
    prefix_ = nullptr;
  }

  static e2e::RunResult Wine(const std::vector<std::string>& args, int timeout_ms = 60000) {
    return prefix_->Wine(args, timeout_ms);
  }

  // nullptr: no countdown program.
  static void SetCountdown(const std::string* command_line) {
    if (command_line) {
      ASSERT_EQ(Wine({"reg", "add", kAgentKey, "/v", "CountdownCmd", "/t", "REG_SZ", "/d",
                      *command_line, "/f"}).exit_code, 0);
    } else {
      Wine({"reg", "delete", kAgentKey, "/v", "CountdownCmd", "/f"});
    }
  }

  static std::string State() {
    const std::string out = Wine({"sc", "query", kService}).out;
    for (const char* s : {"STOP_PENDING", "START_PENDING", "RUNNING", "STOPPED"}) {
      if (out.find(s) != std::string::npos) return s;
    }
    return "?";
  }

  void StartAgent(const std::string* countdown) {
    for (const char* f : {"QX_WOL_A.LOG", "TAVANLOG.TXT", "starts.txt"}) fs::remove(log_dir_ / f);
    SetCountdown(countdown);
    ASSERT_EQ(State(), "STOPPED");
    Wine({"net", "start", kService});
    const auto start = Clock::now();
    while (!Listening(port_) && SecondsSince(start) < 20) SleepMs(50);
    ASSERT_TRUE(Listening(port_)) << "the agent does not listen";
  }

  // The agent ends through the stop control; the caller has closed its
  // connections, or the stop waits for them.
  void StopAgent() {
    Wine({"sc", "stop", kService}, 90000);
    const auto start = Clock::now();
    while (State() != "STOPPED" && SecondsSince(start) < 60) SleepMs(100);
    EXPECT_EQ(State(), "STOPPED");
  }

  // Whether a process of this prefix runs the agent program.
  static bool AgentProcessAlive() {
    const std::string want = "WINEPREFIX=" + prefix_->dir();
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream env(entry.path() / "environ", std::ios::binary);
      std::string e((std::istreambuf_iterator<char>(env)), std::istreambuf_iterator<char>());
      if (e.find(want + '\0') == std::string::npos) continue;
      std::ifstream cmd(entry.path() / "cmdline", std::ios::binary);
      std::string c((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
      if (c.find("PWRAGENT.exe") != std::string::npos) return true;
    }
    return false;
  }

  // After a power-off: the prefix's processes are gone; start it afresh.
  static void RestartPrefix() {
    prefix_->Stop();
    ASSERT_TRUE(prefix_->Start());
  }

  bool WaitForTrace(const std::string& text, int timeout_ms) {
    const auto start = Clock::now();
    do {
      if (Count(Trace(), text) > 0) return true;
      SleepMs(100);
    } while (SecondsSince(start) * 1000 < timeout_ms);
    return false;
  }

  Texts Trace() const { return LogTexts(log_dir_ / "QX_WOL_A.LOG"); }
  Texts OpLogTexts() const { return LogTexts(log_dir_ / "TAVANLOG.TXT"); }

  static e2e::WinePrefix* prefix_;
  static fs::path log_dir_;
  static uint16_t port_;
};

e2e::WinePrefix* PowerOffUnderWine::prefix_ = nullptr;
fs::path PowerOffUnderWine::log_dir_;
uint16_t PowerOffUnderWine::port_ = 0;

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

TEST_F(PowerOffUnderWine, CancelledCountdownKeepsServingTheConnection) {
  const std::string countdown = std::string(kFixture) + " 1 3 10";
  StartAgent(&countdown);
  Manager m(port_);
  ASSERT_TRUE(m.connected());
  const auto off_at = Clock::now();
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_LT(SecondsSince(off_at), 2.0);  // acknowledged before the countdown
  // The same thread reads the next request once the countdown has cancelled.
  EXPECT_EQ(m.Ask(Request(CMD_MAC), AGENT_MESSAGE_SIZE, 30000), NoMacReply());
  EXPECT_GE(SecondsSince(off_at), 3.0);
  m.Close();

  const Texts trace = Trace();
  EXPECT_EQ(Count(trace, "CountDown finished"), 1u);
  EXPECT_EQ(Count(trace, "CountDown() finished : Code = 0"), 1u);
  EXPECT_EQ(Count(trace, "System Shutdown : Code = 0"), 0u);
  EXPECT_EQ(Count(trace, "ExitWindowsEx call."), 0u);
  EXPECT_EQ(OpLogTexts(), Texts({OpLog(OPLOG_AGENT_START), OpLog(OPLOG_POWER_OFF_RECEIVED, kLoopback),
                                 OpLog(OPLOG_POWER_OFF_CANCELLED)}));
  StopAgent();
}

TEST_F(PowerOffUnderWine, SecondOffWhileACountdownRunsIsAnsweredButNotRun) {
  const std::string countdown = std::string(kFixture) + " 1 5 " + kStartsFile + " 10";
  StartAgent(&countdown);
  Manager first(port_), second(port_);
  ASSERT_TRUE(first.connected() && second.connected());
  EXPECT_EQ(first.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_EQ(second.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_TRUE(WaitForTrace("CountDown finished", 30000));
  first.Close();
  second.Close();

  const Texts trace = Trace();
  EXPECT_EQ(CountPrefix(trace, "Error WaitForSingleObject() : Code = "), 1u);
  EXPECT_EQ(Count(trace, "CountDown finished"), 1u);
  const Texts oplog = OpLogTexts();
  EXPECT_EQ(Count(oplog, OpLog(OPLOG_POWER_OFF_RECEIVED, kLoopback)), 2u);
  EXPECT_EQ(Count(oplog, OpLog(OPLOG_POWER_OFF_CANCELLED)), 1u);
  std::ifstream starts(log_dir_ / "starts.txt");
  std::string line;
  int countdowns = 0;
  while (std::getline(starts, line)) ++countdowns;
  EXPECT_EQ(countdowns, 1);
  StopAgent();
}

// The stop does not end the countdown's poll; the countdown then consents,
// but the stopping service asks for no power-off.
TEST_F(PowerOffUnderWine, StopDuringTheCountdownRequestsNoPowerOff) {
  const std::string countdown = std::string(kFixture) + " 0 5 10";
  StartAgent(&countdown);
  Manager m(port_);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  ASSERT_TRUE(WaitForTrace("Response Data Send : IPaddress 100007f", 5000));
  std::thread stop([this] { StopAgent(); });
  EXPECT_TRUE(WaitForTrace("CountDown finished", 30000));
  m.Close();  // lets the connection thread end, and with it the stop's wait
  stop.join();

  const Texts trace = Trace();
  EXPECT_TRUE(InOrder(trace, {"System Shutdown : Code = 0", "ExitWindowsEx call loop fin.",
                              "CountDown finished", "CountDown() finished : Code = 0",
                              "ORVEL/TAV Agent End"}));
  EXPECT_EQ(Count(trace, "ExitWindowsEx call."), 0u);
  EXPECT_EQ(Count(OpLogTexts(), OpLog(OPLOG_SHUTDOWN_START)), 1u);
  EXPECT_EQ(trace.back(), "ORVEL/TAV Agent End");
}

TEST_F(PowerOffUnderWine, CountdownExitingZeroPowersOff) {
  const std::string countdown = std::string(kFixture) + " 0 2 10";
  StartAgent(&countdown);
  Manager m(port_);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_TRUE(WaitForTrace("ExitWindowsEx call.", 30000));
  const auto start = Clock::now();
  while (AgentProcessAlive() && SecondsSince(start) < 20) SleepMs(100);
  EXPECT_FALSE(AgentProcessAlive());
  const Texts trace = Trace();
  EXPECT_EQ(Count(trace, "System Shutdown : Code = 0"), 1u);
  EXPECT_EQ(Count(trace, "CountDown finished"), 0u);  // the process ended in the loop
  EXPECT_EQ(Count(OpLogTexts(), OpLog(OPLOG_SHUTDOWN_START)), 1u);
  RestartPrefix();
}

TEST_F(PowerOffUnderWine, OffWithoutCountdownPowersOffAtOnce) {
  StartAgent(nullptr);
  Manager m(port_);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_TRUE(WaitForTrace("ExitWindowsEx call.", 10000));
  const auto start = Clock::now();
  while (AgentProcessAlive() && SecondsSince(start) < 20) SleepMs(100);
  EXPECT_FALSE(AgentProcessAlive());
  const Texts trace = Trace();
  EXPECT_TRUE(InOrder(trace, {"OFF Command Received : IPaddress 100007f",
                              "Response Data Send : IPaddress 100007f", "System Shutdown : Code = 0",
                              "ExitWindowsEx call."}));
  EXPECT_EQ(Count(trace, "ExitWindowsEx call loop fin."), 0u);
  EXPECT_EQ(OpLogTexts(), Texts({OpLog(OPLOG_AGENT_START), OpLog(OPLOG_POWER_OFF_RECEIVED, kLoopback),
                                 OpLog(OPLOG_SHUTDOWN_START)}));
  RestartPrefix();
}

}  // namespace
