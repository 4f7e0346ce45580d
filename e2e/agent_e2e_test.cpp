// The agent end to end: PWRAGENT.exe as a real service in Wine's service
// manager, driven over loopback like the manager console drives it, its logs
// read from the prefix; the listener scenarios once more against the Linux
// agent. The power-off scenarios use a prefix of their own: under Wine,
// ExitWindowsEx ends the processes of that prefix.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/harness.h"
#include "e2e/ui.h"
#include "log/log_test_support.h"
#include "platform/socket.h"

namespace {

namespace fs = std::filesystem;
using e2e::WaitFor;
using logtest::LogTexts;
using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const std::string kSource = ORVEL_SOURCE_DIR;
const char kService[] = "ORVEL Nimbrel";
const char kAgentKey[] = "HKLM\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent";
const char kFixture[] = "C:\\ORVEL\\countdown_fixture.exe";
const char kStarted[] = "エージェント起動", kEnded[] = "エージェント終了",
           kOffReceived[] = "電源OFFコマンド受信(IPアドレス：127.0.0.1)",
           kCancelled[] = "電源OFF取り消し", kShutdown[] = "電源OFF(シャットダウン)処理開始";

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Hexadecimal digits (spaces ignored) as bytes, zero-padded or cut to `size`.
Bytes Hex(const std::string& digits, size_t size = 40) {
  Bytes b;
  for (size_t i = digits.find_first_not_of(' '); i != std::string::npos;
       i = digits.find_first_not_of(' ', i + 2)) {
    b.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  b.resize(size, 0);
  return b;
}

// "QX/WOL " NUL, version 1, length 40; then code and status.
const std::string kHead = "51582f574f4c2000 01000000 28000000 ";
Bytes Request(const char* code, size_t size = 40) { return Hex(kHead + code, size); }
const char kMac[] = "02000000", kOff[] = "01000000", kCmd3[] = "03000000";
const Bytes kNoMac = Hex(kHead + "02000080 02000000");  // status 2: no MAC known
const Bytes kOffOk = Hex(kHead + "01000080 00000000");
const Bytes kUnknown = Hex(kHead + "00000000 01000000");  // status 1
// WAKE RELAY of 00-11-22-AB-CD-EF: 48 bytes, data length 8.
const Bytes kRelay = Hex("51582f574f4c2000 01000000 30000000 12000000 00000000 00000000 00000000"
                         " 08000000 00000000 001122abcdef", 48);
const Bytes kRelayOk = Hex(kHead + "12000080 00000000");
const Bytes kOffRefused = Hex(kHead + "01000080 03000000");  // status 3: only signed commands
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A trace line about the manager: 127.0.0.1 as the agent writes it, sin_addr
// read as one little-endian word.
std::string Line(const std::string& text) { return text + " IPaddress 100007f"; }

size_t Count(const Texts& texts, const std::string& text, bool prefix = false) {
  return std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
    return prefix ? t.rfind(text, 0) == 0 : t == text;
  });
}

// Each text appears as often as given.
void ExpectCounts(const Texts& texts, const std::map<std::string, size_t>& counts) {
  for (const auto& c : counts) EXPECT_EQ(Count(texts, c.first), c.second) << c.first;
}

// The texts appear in this order, other lines (of other threads) between them.
bool InOrder(const Texts& texts, const Texts& wanted) {
  auto at = texts.begin();
  for (const std::string& w : wanted) {
    at = std::find(at, texts.end(), w);
    if (at++ == texts.end()) return false;
  }
  return true;
}

// A socket of this machine listens on the port: local port, no remote
// address, state 0A in /proc/net/tcp.
bool Listening(uint16_t port) {
  char want[32];
  std::snprintf(want, sizeof want, ":%04X 00000000:0000 0A", port);
  return logtest::ReadAll("/proc/net/tcp").find(want) != std::string::npos;
}

// A manager's connection to the agent on loopback.
class Manager {
 public:
  // A failed connect shows as missing replies and trace lines.
  // `from`: a loopback source address other than 127.0.0.1.
  explicit Manager(uint16_t port, const char* from = nullptr)
      : socket_(platform::Socket::Create()) {
    if (from) socket_.Bind(platform::Ipv4Address{inet_addr(from), 0});
    socket_.Connect(platform::Ipv4Address{htonl(INADDR_LOOPBACK), htons(port)});
  }
  // Sends the request; then `size` bytes, or what came before a close or 30 s.
  Bytes Ask(const Bytes& request, size_t size = 40) {
    Bytes got;
    if (socket_.Send(request.data(), static_cast<int>(request.size())) < 0) return got;
    uint8_t buf[64];
    for (int n = 1; n > 0 && got.size() < size && socket_.WaitReadable(30000) == 1;) {
      n = socket_.Recv(buf, static_cast<int>(std::min(sizeof buf, size - got.size())));
      got.insert(got.end(), buf, buf + std::max(n, 0));
    }
    return got;
  }
  // The agent closes the connection, with nothing more sent.
  bool Closed() {
    uint8_t b;
    return socket_.WaitReadable(10000) == 1 && socket_.Recv(&b, 1) <= 0;
  }
  // Nothing arrives and the connection stays open.
  bool Quiet(int ms) { return socket_.WaitReadable(static_cast<uint32_t>(ms)) == 0; }

 private:
  platform::Socket socket_;
};

// An agent under test: where it listens and where it logs.
struct Site {
  uint16_t port = 0;
  fs::path log_dir;
  Texts Trace() const { return LogTexts(log_dir / "QX_WOL_A.LOG"); }
  Texts OpLog() const { return LogTexts(log_dir / "TAVANLOG.TXT"); }
  bool WaitForTrace(const std::string& text, int timeout_ms = 30000, bool prefix = false) const {
    return WaitFor([&] { return Count(Trace(), text, prefix) > 0; }, timeout_ms);
  }
  void RemoveLogs() const {
    for (const char* f : {"QX_WOL_A.LOG", "TAVANLOG.TXT", "starts.txt"}) fs::remove(log_dir / f);
  }
};

// ---- Listener scenarios, the same for the Windows and the Linux agent; the
// agent's countdown program cancels at once.

// Managers 0 and 1 hold their connections; each further one is closed by the
// agent. Every request, its reply, whether the agent then closes, and the
// trace lines it makes, in the order sent.
struct Step {
  int manager;
  Bytes request, reply;
  bool closes;
  Texts trace;
};

void ServeManagers(const Site& site) {
  const std::string mac = "MAC Command Received :", command = "Error recv() : Invalid Command";
  // The relay's packets on the loopback network, where port 9 of this machine
  // hears them; other runs at the same time may listen there too.
  const int udp = socket(AF_INET, SOCK_DGRAM, 0), one = 1;
  sockaddr_in at{AF_INET, htons(9), {}, {}};
  ASSERT_TRUE(udp >= 0 && setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
              bind(udp, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0);
  const Step steps[] = {
      {0, Request(kMac), kNoMac, false, {mac}},
      // A second manager is served while the first one's thread waits in recv.
      {1, Request(kMac), kNoMac, false, {mac}},
      // Command 3 gets code 0, status 1, and the connection keeps serving.
      {0, Request(kCmd3), kUnknown, false, {command}},
      // 88 bytes at once: a request of 48, and the next 40 are the next request.
      {0, Join(Request(kMac, 48), Request(kCmd3)), Join(kNoMac, kUnknown), false, {mac, command}},
      // The countdown cancels, then the thread reads again.
      {0, Request(kOff), kOffOk, false, {"OFF Command Received :"}},
      {0, Request(kMac), kNoMac, false, {mac}},
      // Over loopback the relay's network is 127.0.0.0/8; its 48 bytes may come in two parts.
      {0, kRelay, kRelayOk, false, {"WAKE RELAY Command Received :"}},
      {0, Bytes(kRelay.begin(), kRelay.begin() + 44), {}, false, {}},
      {0, Bytes(kRelay.begin() + 44, kRelay.end()), kRelayOk, false, {"WAKE RELAY Command Received :"}},
      // 50 bytes: the 2 beyond 48 arrive as a request of their own, too short.
      {2, Request(kMac, 50), kNoMac, true, {mac, "Error recv() : Invalid Data Length"}},
      {3, Hex("51582f574f4c0000 01000000 28000000 02000000"), {}, true,
       {"Error recv() : Invalid HeaderID"}},
      {4, Hex("51582f574f4c2000 02000000 28000000 02000000"), {}, true,
       {"Error recv() : Invalid Data Version"}},
  };
  std::vector<std::unique_ptr<Manager>> managers(5);
  std::map<std::string, size_t> lines = {{Line("Connection Established :"), managers.size()},
                                         {Line("Connection Broken :"), 2}};
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(&s - steps));
    if (!managers[s.manager]) managers[s.manager] = std::make_unique<Manager>(site.port);
    EXPECT_EQ(managers[s.manager]->Ask(s.request, s.reply.size()), s.reply);
    if (s.closes) {
      EXPECT_TRUE(managers[s.manager]->Closed());
    }
    for (const std::string& t : s.trace) ++lines[Line(t)];
  }
  for (int held = 0; held < 2; ++held) {
    EXPECT_TRUE(managers[held]->Quiet(100)) << "more bytes for manager " << held;
    managers[held].reset();
  }
  // The threads of the connections closed here log the end and finish.
  EXPECT_TRUE(
      WaitFor([&] { return Count(site.Trace(), Line("Connection Broken :")) >= 2; }, 10000));
  lines["CountDown() finished : Code = 0"] = 1;
  lines["Wake Relay : MAC = 001122ABCDEF Broadcast ffffff7f"] = 2;
  ExpectCounts(site.Trace(), lines);
  Bytes magic(6, 0xFF), got(200);
  for (int i = 0; i < 16; ++i) magic.insert(magic.end(), kRelay.begin() + 40, kRelay.begin() + 46);
  for (int packets = 0, n = 0; packets < 6; packets += Bytes(got.data(), got.data() + n) == magic) {
    ASSERT_TRUE(WaitFor([&] { return (n = recv(udp, got.data(), got.size(), MSG_DONTWAIT)) > 0; }))
        << packets << " packets of the relay";
  }
  close(udp);
}

// The trace and operation log of a stop with no thread left after the wait.
void ExpectCleanStop(const Site& site, const Texts& oplog) {
  Texts t = site.Trace();
  ASSERT_GE(t.size(), 6u);
  EXPECT_EQ(t.front(), "ORVEL/TAV Agent Start");
  Texts tail(t.end() - 5, t.end());
  tail[1] = tail[1].substr(0, 31);  // its error code differs by platform
  EXPECT_EQ(tail, Texts({" ThreadCnt = 0", "WSACleanup() : Return Code = 0,", "dwThreadEnd = 1",
                         "FreeList OK", "ORVEL/TAV Agent End"}));
  EXPECT_EQ(site.OpLog(), oplog);
}

// With a ManagerKey: a plain OFF is refused with status 3 and the connection
// closed; the Linux pwrctl's signed OFF with the key file is acknowledged.
void ExpectOnlyTheSignedOff(const Site& site, const std::string& key_file) {
  const std::string pwrctl = kSource + "/build/native/bin/pwrctl", port = std::to_string(site.port);
  // scan marks it: it answered CHALLENGE.
  EXPECT_EQ(e2e::Run({pwrctl, "scan", "-p", port, "127.0.0.1"}, 30000).out,
            "127.0.0.1        no MAC known  signed\n");
  Manager m(site.port);
  EXPECT_EQ(m.Ask(Request(kOff)), kOffRefused);
  EXPECT_TRUE(m.Closed());
  // A relay too: only in the signed form (its packets stay on the loopback).
  const std::vector<std::string> wake = {pwrctl, "wake", "--to", "127.255.255.255", "-n", "1",
                                         "--via", "127.0.0.1:" + port, "00-11-22-AB-CD-EF"};
  e2e::RunResult r = e2e::Run(wake, 30000);
  EXPECT_NE(r.out.find("relay failed: 127.0.0.1 refused: it takes only signed commands"),
            std::string::npos) << r.out;
  std::vector<std::string> signed_wake = wake;
  signed_wake.insert(signed_wake.end() - 1, {"--key", key_file});
  r = e2e::Run(signed_wake, 30000);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("via 127.0.0.1"), std::string::npos) << r.out;
  r = e2e::Run({pwrctl, "off", "--key", key_file, "127.0.0.1:" + port}, 30000);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "OFF acknowledged, signed (code 0x80000011, status 0)\n");
  EXPECT_TRUE(InOrder(site.Trace(), {Line("Command Refused : plain OFF"),
                                     Line("Command Refused : plain WAKE RELAY"),
                                     Line("Signed Command Accepted : Key = 1"),
                                     "Wake Relay : MAC = 001122ABCDEF Broadcast ffffff7f",
                                     Line("Signed Command Accepted : Key = 1"),
                                     Line("OFF Command Received :")}));
}

// ---- The Windows agent as a service under Wine.

class AgentUnderWine : public e2e::DesktopSuite {
 protected:
  static constexpr double kSlack = 5.0;  // what sc and the polling of its state cost

  // PWRAGENT.exe and the countdown fixture in C:\ORVEL, logs in C:\ORVEL\LOG,
  // a free port, the service registered anew.
  static void SetUpTestSuite() {
    const std::string suite = ::testing::UnitTest::GetInstance()->current_test_suite()->name();
    if (suite == "PowerOffUnderWine") {  // a screen for PWRCOUNT on the user's desktop
      ASSERT_NO_FATAL_FAILURE(StartDesktop("poweroff-e2e"));
    } else {
      prefix_ = std::make_unique<e2e::WinePrefix>(kSource, kSource + "/build/wine/agent-e2e", "");
      ASSERT_TRUE(prefix_->Start());
    }
    const fs::path orvel = fs::path(prefix_->dir()) / "drive_c/ORVEL";
    site_.log_dir = orvel / "LOG";
    fs::create_directories(site_.log_dir);
    for (const char* exe : {"PWRAGENT.exe", "countdown_fixture.exe", "PWRCOUNT.exe", "pwrctl.exe"}) {
      fs::copy_file(e2e::WinBinDir(kSource) + "/" + exe, orvel / exe,
                    fs::copy_options::overwrite_existing);
    }
    site_.port = e2e::FreePort();
    Wine({"sc", "delete", kService});
    ASSERT_EQ(Wine({"sc", "create", kService, "binPath=", "C:\\ORVEL\\PWRAGENT.exe"}).exit_code, 0);
  }

  // The service is in the state ("RUNNING", "STOPPED", ...) by `sc query`.
  static bool In(const char* state) {
    return Wine({"sc", "query", kService}).out.find(state) != std::string::npos;
  }

  // The services entry and the agent key with LogFilePath and the countdown
  // program ("": none); or neither entry nor key.
  static void Configure(const std::string& countdown, bool configured = true) {
    std::ofstream(fs::path(prefix_->dir()) / "drive_c/windows/system32/drivers/etc/services",
                  std::ios::binary | std::ios::trunc)
        << (configured ? "QX_WOL_AGT " + std::to_string(site_.port) + "/tcp\r\n" : "");
    Wine({"reg", "delete", kAgentKey, "/f"});
    if (!configured) return;
    const auto add = [](const char* name, const std::string& value) {
      return Wine({"reg", "add", kAgentKey, "/v", name, "/d", value, "/f"}).exit_code == 0;
    };
    ASSERT_TRUE(add("LogFilePath", "C:\\ORVEL\\LOG") &&
                (countdown.empty() || add("CountdownCmd", countdown)));
    const char* allowed = std::exchange(allowed_, nullptr);
    if (allowed) {
      ASSERT_TRUE(add("AllowedManagers", allowed));
    }
    const std::string key = std::exchange(key_, "");
    if (!key.empty()) {
      ASSERT_TRUE(add("ManagerKey", key));
    }
  }

  // Fresh logs, the settings, `net start`; then the agent listens. The
  // countdown program cancels at once unless another is given.
  static void StartAgent(const std::string& countdown = kFixture + std::string(" 1 0 10")) {
    site_.RemoveLogs();
    Configure(countdown);
    ASSERT_TRUE(In("STOPPED"));
    Wine({"net", "start", kService});
    ASSERT_TRUE(WaitFor([] { return Listening(site_.port); }, 20000))
        << "the agent does not listen";
  }

  // `sc stop`, then the stopped state; the seconds taken.
  static double StopAgent() {
    const auto start = Clock::now();
    Wine({"sc", "stop", kService});
    EXPECT_TRUE(WaitFor([] { return In("STOPPED"); }, 60000));
    return SecondsSince(start);
  }

  static inline Site site_;
  static inline const char* allowed_ = nullptr;  // AllowedManagers of the next start
  static inline std::string key_;                // ManagerKey of the next start
};

// ---- The Linux agent, with SIGTERM as the stop.

class AgentNative : public ::testing::Test {
 protected:
  static constexpr double kSlack = 1.5;  // the wait's pause may end right after the signal

  // `in`: what the agent runs under, such as ip netns exec NAME.
  void StartAgent(Texts in = {}) {
    const fs::path dir = kSource + "/build/native/agent-e2e";
    fs::remove_all(dir);
    fs::create_directories(dir / "log");
    site_ = {e2e::FreePort(), dir / "log"};
    std::ofstream(dir / "services") << "QX_WOL_AGT " << site_.port << "/tcp\n";
    // The first line of a name counts: the extra lines come first.
    std::ofstream(dir / "agent.conf")
        << std::exchange(extra_, "") << "LogFilePath=" << site_.log_dir.string()
        << "\nCountdownCmd=false\n"
        << (allowed_ ? "AllowedManagers=" + std::string(std::exchange(allowed_, nullptr)) + "\n" : "");
    in.push_back(kSource + "/build/native/bin/pwragent");
    agent_ = std::make_unique<e2e::Background>(
        in,
        Texts{"ORVEL_SERVICES_FILE=" + (dir / "services").string(),
              "ORVEL_AGENT_CONF=" + (dir / "agent.conf").string()},
        (dir / "agent.out").string());
    // Listening, also in another namespace, whose sockets /proc/net/tcp does not show.
    ASSERT_TRUE(WaitFor([&] { return Count(site_.Trace(), "accept OK", true) > 0; }, 10000));
  }

  // SIGTERM, then the agent ends with 0; the seconds taken.
  double StopAgent() {
    const auto start = Clock::now();
    kill(agent_->pid(), SIGTERM);
    int code = -1;
    EXPECT_TRUE(agent_->Wait(60000, &code));
    EXPECT_EQ(code, 0);
    return SecondsSince(start);
  }

  Site site_;
  const char* allowed_ = nullptr;  // AllowedManagers of the next start
  std::string extra_;              // more settings lines of the next start
  std::unique_ptr<e2e::Background> agent_;
};

// ---- The listener scenarios and the stop, the same for both agents.

template <typename Host>
class Agent : public Host {};
using Hosts = ::testing::Types<AgentUnderWine, AgentNative>;
TYPED_TEST_SUITE(Agent, Hosts);

TYPED_TEST(Agent, ServesTheManagersAndStopsInAboutASecond) {
  this->StartAgent();
  ServeManagers(this->site_);
  // One 1000 ms pause of the wait for the threads.
  EXPECT_LT(this->StopAgent(), 1.0 + TypeParam::kSlack);
  ExpectCleanStop(this->site_, {kStarted, kOffReceived, kCancelled, kEnded});
  EXPECT_EQ(Count(this->site_.Trace(), "AcceptThreadProc accept()中断 : dwAgentEnd = 1"), 1u);
  EXPECT_FALSE(Listening(this->site_.port));
}

TYPED_TEST(Agent, StopWhileAConnectionIdlesWaitsTwentySeconds) {
  this->StartAgent();
  Manager idle(this->site_.port);
  ASSERT_TRUE(this->site_.WaitForTrace(Line("Connection Established :")));
  const double seconds = this->StopAgent();
  EXPECT_GE(seconds, 19.5);
  EXPECT_LT(seconds, 20.0 + TypeParam::kSlack);
  const Texts t = this->site_.Trace();
  EXPECT_TRUE(
      InOrder(t, {"Thread_Timer >= 20 ThreadCnt = 1", "                 dwThreadEnd = 1",
                  " ThreadCnt = 1", "FreeList() skipped : ThreadCnt = 1", "ORVEL/TAV Agent End"}));
  // The idle thread may still read the adapter list: it is not freed.
  EXPECT_EQ(Count(t, "FreeList OK"), 0u);
}

// 50 managers at once, 4 requests each: every one is answered. Afterwards a
// manager is still served at once: 20 in turn within a second, where a 100 ms
// poll of accept would take 2 s.
TYPED_TEST(Agent, AnswersFiftyManagersAtOnceAndAtOnceAfterwards) {
  this->StartAgent();
  const uint16_t port = this->site_.port;
  std::vector<int> answered(50, 0);
  std::vector<std::thread> managers;
  for (int& n : answered) {
    managers.emplace_back([&n, port] {
      Manager m(port);
      for (int r = 0; r < 4; ++r) n += m.Ask(Request(kMac)) == kNoMac;
    });
  }
  for (std::thread& t : managers) t.join();
  EXPECT_EQ(std::count(answered.begin(), answered.end(), 4), 50);
  const auto start = Clock::now();
  int in_turn = 0;
  for (int i = 0; i < 20; ++i) in_turn += Manager(port).Ask(Request(kMac)) == kNoMac;
  EXPECT_EQ(in_turn, 20);
  EXPECT_LT(SecondsSince(start), 1.0);
  const Site& site = this->site_;
  EXPECT_TRUE(WaitFor([&] { return Count(site.Trace(), Line("Connection Broken :")) == 70; }));
  ExpectCounts(site.Trace(),
               {{Line("Connection Established :"), 70}, {Line("MAC Command Received :"), 220}});
  EXPECT_LT(this->StopAgent(), 1.0 + TypeParam::kSlack);
}

// AllowedManagers: managers from other loopback addresses than 127.0.0.1
// (all of 127.0.0.0/8 is this machine's), each row on a fresh start.
TYPED_TEST(Agent, ServesOnlyTheAllowedManagers) {
  // trace: lines that appear once each; sin_addr is read as one little-endian word.
  const struct {
    const char* value;
    std::vector<const char*> served, refused;
    Texts trace;
  } rows[] = {
      {"", {"127.0.0.3"}, {}, {"Connection Established : IPaddress 300007f"}},
      {" 127.0.0.2 ,127.0.1.0/24", {"127.0.0.2", "127.0.1.9"}, {"127.0.0.3"},
       {"Connection Established : IPaddress 200007f", "Connection Established : IPaddress 901007f",
        "Connection Refused : IPaddress 300007f"}},
      {"127.0.0.2,127.0.0.256", {}, {"127.0.0.2"},
       {"Error AllowedManagers : \"127.0.0.256\"", "Connection Refused : IPaddress 200007f"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.value);
    this->allowed_ = r.value;
    this->StartAgent();
    for (const char* from : r.served) {
      EXPECT_EQ(Manager(this->site_.port, from).Ask(Request(kMac)), kNoMac) << from;
    }
    for (const char* from : r.refused) EXPECT_TRUE(Manager(this->site_.port, from).Closed()) << from;
    this->StopAgent();
    const Texts t = this->site_.Trace();
    for (const std::string& line : r.trace) EXPECT_EQ(Count(t, line), 1u) << line;
    EXPECT_EQ(Count(t, "Error AllowedManagers", true), Count(r.trace, "Error AllowedManagers", true));
    EXPECT_EQ(this->site_.OpLog(), Texts({kStarted, kEnded}));
  }
}

// Network namespaces of the test's own, made by a script that names them $0,
// $1, ...; they go at the end, and the links in them with them.
struct Namespaces {
  Texts names;
  ~Namespaces() {
    for (const std::string& ns : names) e2e::Run({"ip", "netns", "del", ns}, 10000);
  }
  // "" once the script ran through, else what failed.
  std::string Make(const std::string& script) const {
    Texts argv = {"sh", "-ec", script};
    argv.insert(argv.end(), names.begin(), names.end());
    const e2e::RunResult r = e2e::Run(argv, 20000);
    return r.exit_code == 0 ? "" : r.out;
  }
  // pwrctl mac in the last namespace, the manager's.
  e2e::RunResult Mac(const std::string& address, uint16_t port) const {
    return e2e::Run({"ip", "netns", "exec", names.back(), kSource + "/build/native/bin/pwrctl",
                     "mac", address + ":" + std::to_string(port)}, 30000);
  }
};

// An adapter that comes up after the agent started, as DHCP gives an address
// after boot: a veth pair, this end with a fixed MAC and 198.51.100.1, the
// other end in a namespace where the manager runs.
TYPED_TEST(Agent, AnswersTheMacOfAnAdapterThatCameUpAfterStart) {
  this->StartAgent();
  const Namespaces ns{{"orvel-e2e-" + std::to_string(getpid())}};
  const std::string problem = ns.Make(
      "h=orvel-h$$; ip netns add $0;"
      "ip link add $h address 02:aa:bb:cc:dd:ee type veth peer name orvel-m netns $0;"
      "ip addr add 198.51.100.1/24 dev $h; ip link set $h up;"
      "ip -n $0 addr add 198.51.100.2/24 dev orvel-m; ip -n $0 link set orvel-m up");
  if (!problem.empty()) GTEST_SKIP() << "no network namespace here, scenario skipped: " << problem;
  const e2e::RunResult r = ns.Mac("198.51.100.1", this->site_.port);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "02-AA-BB-CC-DD-EE\n");
  // The address is the local end's, 198.51.100.1, as sin_addr read little-endian.
  EXPECT_EQ(Count(this->site_.Trace(), "Get MACAddress by IP 16433c6 : Address = 02AABBCCDDEE"), 1u);
  this->StopAgent();
}

// The agent in a namespace of its own (A), the manager in another (M): two
// veth pairs, the agent's ends with fixed MACs, and a tun device, which has
// no hardware address, with a third address that M reaches through pair 1.
TEST_F(AgentNative, InANamespaceAnswersTheMacOfTheAdapterThatOwnsTheAddress) {
  const Namespaces ns{{"orvel-a-" + std::to_string(getpid()), "orvel-m-" + std::to_string(getpid())}};
  const std::string problem = ns.Make(
      "ip netns add $0; ip netns add $1;"
      "ip -n $0 link add a1 address 02:00:00:00:00:01 type veth peer name m1 netns $1;"
      "ip -n $0 link add a2 address 02:00:00:00:00:02 type veth peer name m2 netns $1;"
      "ip -n $0 tuntap add dev t3 mode tun;"
      "ip -n $0 addr add 192.0.2.1/24 dev a1; ip -n $0 addr add 198.51.100.1/24 dev a2;"
      "ip -n $0 addr add 203.0.113.1/32 dev t3;"
      "ip -n $1 addr add 192.0.2.2/24 dev m1; ip -n $1 addr add 198.51.100.2/24 dev m2;"
      "for l in a1 a2 t3; do ip -n $0 link set $l up; done;"
      "for l in m1 m2; do ip -n $1 link set $l up; done;"
      "ip -n $1 route add 203.0.113.1/32 via 192.0.2.1;"
      "ip -n $0 -o link show dev t3 | grep -q link/none");
  if (!problem.empty()) GTEST_SKIP() << "no network namespace here, scenario skipped: " << problem;
  StartAgent({"ip", "netns", "exec", ns.names[0]});
  const struct {
    const char* address;
    int exit_code;
    std::string out;
  } rows[] = {
      {"192.0.2.1", 0, "02-00-00-00-00-01\n"},
      {"198.51.100.1", 0, "02-00-00-00-00-02\n"},
      {"203.0.113.1", 1,
       "no MAC address known for the address this connection arrived on (status 2)\n"},
  };
  for (const auto& r : rows) {
    const e2e::RunResult got = ns.Mac(r.address, site_.port);
    EXPECT_EQ(got.exit_code, r.exit_code) << r.address << ": " << got.out;
    EXPECT_EQ(got.out, r.out) << r.address;
  }
  StopAgent();
  // All three from the adapter list made at start-up; none asked for afresh.
  ExpectCounts(site_.Trace(), {{"Get MACAddress : Address = 020000000001", 1},
                               {"Get MACAddress : Address = 020000000002", 1},
                               {"Error GetMAC() : Code = 40", 1}});
  EXPECT_EQ(Count(site_.Trace(), "Get MACAddress by IP", true), 0u);
}

// A PC on another subnet: the manager (namespace M) reaches the PCs' subnet
// (a bridge in the router R) only through R, which forwards no broadcasts.
// The relay agent runs in P, the sleeping PC in S; the table names the relay
// by its address alone and the PC with its MAC.
TEST_F(AgentNative, WakesAPcBehindARouterThroughARelayAgentAndSeesItUp) {
  const std::string pid = std::to_string(getpid());
  const Namespaces ns{{"orvel-r-" + pid, "orvel-p-" + pid, "orvel-s-" + pid, "orvel-m-" + pid}};
  const std::string problem = ns.Make(
      "for n in $0 $1 $2 $3; do ip netns add $n; done; ip -n $0 link add br0 type bridge;"
      "ip -n $0 link add rp type veth peer name p0 netns $1; ip -n $0 link set rp master br0 up;"
      "ip -n $0 link add rs type veth peer name s0 netns $2; ip -n $0 link set rs master br0 up;"
      "ip -n $0 link add r0 type veth peer name m0 netns $3; ip -n $2 link set s0 address "
      "02:00:0a:02:00:14; ip netns exec $0 sysctl -qw net.ipv4.ip_forward=1; up() { ip -n $1 "
      "addr add $3/24 dev $2; ip -n $1 link set $2 up; [ -z $4 ] || ip -n $1 route add default "
      "via $4; }; up $0 br0 10.2.0.1; up $0 r0 10.1.0.1; up $3 m0 10.1.0.2 10.1.0.1;"
      "up $1 p0 10.2.0.10 10.2.0.1; up $2 s0 10.2.0.20 10.2.0.1");
  if (!problem.empty()) GTEST_SKIP() << "no network namespace here, scenario skipped: " << problem;
  StartAgent({"ip", "netns", "exec", ns.names[1]});
  const fs::path dir = site_.log_dir.parent_path();
  std::ofstream(dir / "pc.conf") << "LogFilePath=" << dir.string() << "\nCountdownCmd=false\n";
  e2e::Background pc({"ip", "netns", "exec", ns.names[2], kSource + "/build/native/bin/sleeping_pc",
                      "02:00:0a:02:00:14", kSource + "/build/native/bin/pwragent"},
                     {"ORVEL_SERVICES_FILE=" + (dir / "services").string(),
                      "ORVEL_AGENT_CONF=" + (dir / "pc.conf").string()},
                     (dir / "pc.out").string());
  ASSERT_TRUE(WaitFor([&] { return logtest::ReadAll((dir / "pc.out").string()) == "asleep\n"; }));
  const std::string port = std::to_string(site_.port), table = (dir / "table").string();
  std::ofstream(table) << "10.2.0.10:" << port << "\n10.2.0.20:" << port << "  02-00-0A-02-00-14\n";
  const auto wake = [&](const std::string& options) {
    return e2e::Run({"sh", "-c", "exec ip netns exec " + ns.names[3] + " " + kSource +
                     "/build/native/bin/pwrctl wake " + options + " @" + table}, 60000);
  };
  const std::string row = "02-00-0A-02-00-14  10.2.0.20:" + port + "  ";
  e2e::RunResult r = wake("--wait=3");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, row + "broadcast                 no answer after 3 s\n");
  r = wake("--relay --wait=30");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind(row + "via 10.2.0.10             awake after ", 0), 0u) << r.out;
  StopAgent();
  // 10.2.0.255, sin_addr read as one little-endian word.
  EXPECT_EQ(Count(site_.Trace(), "Wake Relay : MAC = 02000A020014 Broadcast ff00020a"), 1u);
}

// The key file from the Linux pwrctl keygen: owner-only whatever the umask,
// never overwritten. PowerOffCmd marks the power-off, which comes at once.
TEST_F(AgentNative, WithAManagerKeyOnlyASignedOffPowersOff) {
  const fs::path dir = kSource + "/build/native/agent-e2e-key";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string key_file = (dir / "manager.key").string(), pwrctl = kSource + "/build/native/bin/pwrctl";
  const mode_t mask = umask(0);
  const e2e::RunResult made = e2e::Run({pwrctl, "keygen", key_file}, 30000);
  umask(mask);
  ASSERT_EQ(made.exit_code, 0) << made.out;
  EXPECT_EQ(fs::status(key_file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(e2e::Run({pwrctl, "keygen", key_file}, 30000).exit_code, 2);
  EXPECT_EQ(e2e::Run({pwrctl, "pubkey", key_file}, 30000).out, made.out);
  extra_ = "ManagerKey=" + made.out + "PowerOffCmd=touch " + (dir / "off").string() +
           "\nCountdownCmd=\n";
  StartAgent();
  ExpectOnlyTheSignedOff(site_, key_file);
  EXPECT_TRUE(WaitFor([&] { return fs::exists(dir / "off"); }, 10000));
  StopAgent();
  EXPECT_EQ(site_.OpLog(), Texts({kStarted, kOffReceived, kShutdown, kEnded}));
}

TEST_F(AgentUnderWine, WithoutServicesEntryOrAgentKeyItRunsWithoutPortAndLogsInItsDirectory) {
  // ".\" is the service's current directory. Windows starts services in
  // %SystemRoot%\system32; Wine's service manager starts them in C:\windows.
  const Site cwd{0, fs::path(prefix_->dir()) / "drive_c/windows"};
  cwd.RemoveLogs();
  site_.RemoveLogs();
  Configure("", /*configured=*/false);
  Wine({"net", "start", kService});
  EXPECT_TRUE(cwd.WaitForTrace("Error getservbyname() : Code = ", 20000, /*prefix=*/true));
  EXPECT_TRUE(In("RUNNING"));
  EXPECT_FALSE(Listening(site_.port));
  EXPECT_LT(StopAgent(), 1.0 + kSlack);
  ExpectCleanStop(cwd, {kStarted, kEnded});
  EXPECT_FALSE(fs::exists(site_.log_dir / "QX_WOL_A.LOG"));
  cwd.RemoveLogs();
}

TEST_F(AgentUnderWine, StartedFromAShellLogsTheDispatcherErrorAndEnds) {
  site_.RemoveLogs();
  Configure("");
  const e2e::RunResult r = Wine({"C:\\ORVEL\\PWRAGENT.exe"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
  EXPECT_EQ(site_.Trace(), Texts{"Error StartServiceCtrlDispatcher() : Code = 1063"});
  EXPECT_FALSE(fs::exists(site_.log_dir / "TAVANLOG.TXT"));
}

// ---- The power-off, with the countdown fixture as the countdown program:
// "EXITCODE SECONDS [RECORD_FILE] LENGTH".

class PowerOffUnderWine : public AgentUnderWine {};

// The countdowns the fixture recorded, a line each.
size_t Countdowns(const Site& site) {
  const std::string s = logtest::ReadAll((site.log_dir / "starts.txt").string());
  return std::count(s.begin(), s.end(), '\n');
}

const std::string kRecord = " C:\\ORVEL\\LOG\\starts.txt";

TEST_F(PowerOffUnderWine, CancelledCountdownKeepsServingAndASecondOffRunsNone) {
  StartAgent(kFixture + std::string(" 1 3") + kRecord + " 10");
  {
    Manager first(site_.port), second(site_.port);
    const auto off_at = Clock::now();
    EXPECT_EQ(first.Ask(Request(kOff)), kOffOk);
    EXPECT_EQ(Count(site_.Trace(), "CountDown finished"), 0u) << "acknowledged after the countdown";
    ASSERT_TRUE(WaitFor([] { return Countdowns(site_) == 1; }, 10000));
    // Answered, but the countdown of the first holds the power-off mutex.
    EXPECT_EQ(second.Ask(Request(kOff)), kOffOk);
    // The same thread reads the next request once the countdown has cancelled.
    EXPECT_EQ(first.Ask(Request(kMac)), kNoMac);
    EXPECT_GE(SecondsSince(off_at), 3.0);
  }
  StopAgent();
  EXPECT_EQ(Count(site_.Trace(), "Error WaitForSingleObject() : Code = ", true), 1u);
  ExpectCounts(site_.Trace(), {{"CountDown finished", 1}, {"CountDown() finished : Code = 0", 1}});
  EXPECT_EQ(Countdowns(site_), 1u);
  EXPECT_EQ(site_.OpLog(), Texts({kStarted, kOffReceived, kOffReceived, kCancelled, kEnded}));
}

// The stop does not end the countdown's poll; the countdown then consents,
// but the stopping service asks for no power-off.
TEST_F(PowerOffUnderWine, StopDuringTheCountdownRequestsNoPowerOff) {
  StartAgent(kFixture + std::string(" 0 5") + kRecord + " 10");
  auto m = std::make_unique<Manager>(site_.port);
  EXPECT_EQ(m->Ask(Request(kOff)), kOffOk);
  ASSERT_TRUE(WaitFor([] { return Countdowns(site_) == 1; }, 10000));
  // In the background: the control handler runs the whole stop, which waits
  // for this connection's thread.
  e2e::Background stop =
      prefix_->WineInBackground({"sc", "stop", kService}, prefix_->dir() + ".sc.log");
  EXPECT_TRUE(site_.WaitForTrace("CountDown finished"));
  // Stop pending, with a hint (30 s) that covers the wait for the threads.
  EXPECT_NE(Wine({"sc", "query", kService}).out.find("WAIT_HINT          : 0x7530"),
            std::string::npos);
  m.reset();  // the connection's thread ends, and with it the stop's wait
  EXPECT_TRUE(WaitFor([] { return In("STOPPED"); }, 60000));
  const Texts trace = site_.Trace();
  EXPECT_TRUE(InOrder(trace, {"System Shutdown : Code = 0", "ExitWindowsEx call loop fin.",
                              "CountDown finished", "CountDown() finished : Code = 0"}));
  EXPECT_EQ(Count(trace, "ExitWindowsEx call."), 0u);
  EXPECT_EQ(trace.back(), "ORVEL/TAV Agent End");
  EXPECT_EQ(site_.OpLog(), Texts({kStarted, kOffReceived, kShutdown, kEnded}));
}

// Under Wine, ExitWindowsEx ends the processes of the prefix, the agent's
// among them; the prefix is then started afresh.
TEST_F(PowerOffUnderWine, ConsentingCountdownOrNoneMeansPowerOff) {
  for (const std::string& countdown : {kFixture + std::string(" 0 2 10"), std::string()}) {
    SCOPED_TRACE("countdown program: " + countdown);
    StartAgent(countdown);
    Manager m(site_.port);
    EXPECT_EQ(m.Ask(Request(kOff)), kOffOk);
    EXPECT_TRUE(WaitFor([] { return !Listening(site_.port); }, 40000)) << "the agent lives on";
    const Texts trace = site_.Trace();
    EXPECT_TRUE(InOrder(trace, {Line("OFF Command Received :"), Line("Response Data Send :"),
                                "System Shutdown : Code = 0", "ExitWindowsEx call."}));
    EXPECT_EQ(site_.OpLog(), Texts({kStarted, kOffReceived, kShutdown}));
    prefix_->Stop();
    ASSERT_TRUE(prefix_->Start());
  }
}

// The key made by the Windows pwrctl, the signed OFF sent by the Linux one;
// the refused plain OFF leaves the agent serving, the signed one powers off.
TEST_F(PowerOffUnderWine, WithAManagerKeyOnlyASignedOffPowersOff) {
  const fs::path key_file = fs::path(prefix_->dir()) / "drive_c/ORVEL/manager.key";
  fs::remove(key_file);
  const e2e::RunResult made = Wine({"C:\\ORVEL\\pwrctl.exe", "keygen", "C:\\ORVEL\\manager.key"});
  ASSERT_EQ(made.exit_code, 0) << made.out;
  key_ = made.out.substr(0, made.out.find_first_of("\r\n"));
  StartAgent("");
  ExpectOnlyTheSignedOff(site_, key_file.string());
  EXPECT_TRUE(WaitFor([] { return !Listening(site_.port); }, 40000)) << "the agent lives on";
  EXPECT_EQ(site_.OpLog(), Texts({kStarted, kOffReceived, kShutdown}));
  prefix_->Stop();
  ASSERT_TRUE(prefix_->Start());
}

// ---- PWRCOUNT as the countdown program: the service starts it on the
// user's desktop, where the UI driver finds it.

const std::string kPwrcount = "\"C:\\ORVEL\\PWRCOUNT.exe\" ";
const char kUserStart[] = "CountDown Start : Session = 1";  // Wine's console session

// The dialog of a countdown of `seconds`; the seconds it shows in its text
// and on its bar, -1 when they differ.
int ExpectCountdown(const std::vector<Texts>& rows, int seconds) {
  std::string text, bar;
  for (const Texts& r : rows) {
    if (r.size() == 10 && r[2] == "1000") text = r[9];
    if (r.size() == 10 && r[2] == "1001") bar = r[9];
  }
  const size_t number = sizeof "あと " - 1;
  const int left = text.size() > number ? std::atoi(text.c_str() + number) : -1;
  e2e::ExpectDialog(
      rows, "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ", 262, 92,
      {{"Static", "-1", "50000003", 7, 7, 0, 0, ""},
       {"Static", "-1", "50020000", 38, 7, 217, 22,
        "管理者の指示により、このコンピュータの電源を切ります。\n作業中のデータを保存してください。"},
       {"Static", "1000", "50020000", 38, 35, 217, 10,
        "あと " + std::to_string(left) + " 秒で電源が切れます。"},
       {"msctls_progress32", "1001", "50000000", 38, 48, 217, 9, bar},
       {"Button", "2", "50010001", 165, 68, 90, 14, "取り消し(&C)"},  // the default
       {"Button", "1", "50010000", 68, 68, 90, 14, "今すぐ電源を切る"}});
  if (!rows.empty()) {
    EXPECT_EQ(std::stoul(rows[0][2], nullptr, 16) & 0x8u, 0x8u) << "not topmost";
  }
  return bar == std::to_string(left) + "/" + std::to_string(seconds) ? left : -1;
}

TEST_F(PowerOffUnderWine, PwrcountOnTheUsersDesktopCountsDownAndEnterCancels) {
  StartAgent(kPwrcount + "60");
  Manager m(site_.port);
  EXPECT_EQ(m.Ask(Request(kOff)), kOffOk);
  const int first = ExpectCountdown(e2e::Rows(e2e::Driver(*prefix_, {"dialog"}).out), 60);
  EXPECT_TRUE(first >= 50 && first <= 60) << first;
  Shot("pwrcount-dialog");
  // Letters typed by someone writing elsewhere press nothing: the dialog counts on.
  for (const char* k : {"o", "O"}) ASSERT_EQ(e2e::Driver(*prefix_, {"dialog", "key", k}).exit_code, 0);
  // It follows the clock: a second later it shows less, text and bar alike.
  int later = first;
  EXPECT_TRUE(WaitFor([&] {
    later = ExpectCountdown(e2e::Rows(e2e::Driver(*prefix_, {"dialog"}).out), 60);
    return later >= 0 && later < first;
  }, 10000));
  Shot("pwrcount-counting");
  // Enter, as a stray key would press it, hits the default button: 取り消し.
  ASSERT_EQ(e2e::Driver(*prefix_, {"dialog", "key", "enter"}).exit_code, 0);
  EXPECT_TRUE(site_.WaitForTrace("CountDown finished"));
  EXPECT_EQ(m.Ask(Request(kMac)), kNoMac) << "the agent does not serve on";
  StopAgent();
  const Texts trace = site_.Trace();
  EXPECT_TRUE(InOrder(trace, {Line("OFF Command Received :"), kUserStart, "CountDown finished"}));
  EXPECT_EQ(Count(trace, "System Shutdown : Code = 0"), 0u);
  EXPECT_EQ(site_.OpLog(), Texts({kStarted, kOffReceived, kCancelled, kEnded}));
  // A countdown out of range shows nothing and cancels with 2.
  EXPECT_EQ(Wine({"C:\\ORVEL\\PWRCOUNT.exe", "10000"}).exit_code, 2);
}

// The time running out and the power-off button both let it go ahead; under
// Wine the power-off ends the prefix's processes, which is then started afresh.
TEST_F(PowerOffUnderWine, PwrcountRunOutOrConfirmedPowersOff) {
  for (const int seconds : {5, 60}) {
    SCOPED_TRACE(std::to_string(seconds) + " s");
    StartAgent(kPwrcount + std::to_string(seconds));
    Manager m(site_.port);
    EXPECT_EQ(m.Ask(Request(kOff)), kOffOk);
    EXPECT_GT(ExpectCountdown(e2e::Rows(e2e::Driver(*prefix_, {"dialog"}).out), seconds), 0);
    if (seconds == 60) {
      EXPECT_EQ(e2e::Driver(*prefix_, {"dialog", "click", "1"}).exit_code, 0);
    }
    EXPECT_TRUE(WaitFor([] { return !Listening(site_.port); }, 40000)) << "the agent lives on";
    EXPECT_TRUE(InOrder(site_.Trace(), {kUserStart, "System Shutdown : Code = 0",
                                        "ExitWindowsEx call."}));
    EXPECT_EQ(site_.OpLog(), Texts({kStarted, kOffReceived, kShutdown}));
    prefix_->Stop();
    ASSERT_TRUE(prefix_->Start());
  }
}

}  // namespace
