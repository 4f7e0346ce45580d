#include "e2e/agent_peer.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#include "log/operation_log.h"

namespace e2e {

namespace fs = std::filesystem;

const char kAgentService[] = "ORVEL Nimbrel";
const char kAgentKey[] = "HKLM\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent";

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Listening(uint16_t port) {
  std::ifstream tcp("/proc/net/tcp");
  char want[16];
  std::snprintf(want, sizeof want, ":%04X ", port);
  std::string line;
  while (std::getline(tcp, line)) {
    // local address, remote 00000000:0000, state 0A (listen)
    if (line.find(want) != std::string::npos && line.find(" 00000000:0000 0A ") != std::string::npos) {
      return true;
    }
  }
  return false;
}

uint16_t FreePort() {
  platform::Socket s = platform::Socket::Create();
  platform::Ipv4Address bound{0, 0};
  if (!s.Bind(platform::Ipv4Address{htonl(INADDR_LOOPBACK), 0}) || !s.LocalAddress(&bound)) return 0;
  return ntohs(bound.port);
}

Bytes Request(uint32_t command, size_t size) {
  uint8_t area[AGENT_BLOCK_SIZE];
  BuildRequest(area, command);
  Bytes b(area, area + AGENT_BLOCK_SIZE);
  b.resize(size, 0);
  return b;
}

Bytes NoMacReply() {
  uint8_t area[AGENT_BLOCK_SIZE];
  return Bytes(area, area + BuildMacResponse(area, nullptr));
}

Bytes OffReply() {
  uint8_t area[AGENT_BLOCK_SIZE];
  return Bytes(area, area + BuildOffResponse(area));
}

Bytes UnknownCommandReply() {
  uint8_t area[AGENT_BLOCK_SIZE];
  return Bytes(area, area + BuildUnknownCommandResponse(area));
}

Manager::Manager(uint16_t port) : socket_(platform::Socket::Create()) {
  connected_ = socket_.Connect(platform::Ipv4Address{htonl(INADDR_LOOPBACK), htons(port)});
}

bool Manager::Send(const Bytes& b) {
  return socket_.Send(b.data(), static_cast<int>(b.size())) == static_cast<int>(b.size());
}

Bytes Manager::Read(size_t size, int timeout_ms) {
  Bytes got;
  const auto start = Clock::now();
  while (got.size() < size) {
    const int left = timeout_ms - static_cast<int>(SecondsSince(start) * 1000);
    if (left <= 0 || socket_.WaitReadable(static_cast<uint32_t>(left)) != 1) break;
    uint8_t buf[256];
    const int n = socket_.Recv(buf, static_cast<int>(std::min(sizeof buf, size - got.size())));
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

Bytes Manager::Ask(const Bytes& request, size_t reply_size, int timeout_ms) {
  if (!Send(request)) return {};
  return Read(reply_size, timeout_ms);
}

bool Manager::ClosedWithoutReply(int timeout_ms) {
  if (socket_.WaitReadable(static_cast<uint32_t>(timeout_ms)) != 1) return false;
  uint8_t b[64];
  return socket_.Recv(b, sizeof b) <= 0;
}

bool Manager::Quiet(int ms) { return socket_.WaitReadable(static_cast<uint32_t>(ms)) == 0; }

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

bool InOrder(const Texts& trace, const Texts& wanted) {
  size_t next = 0;
  for (const std::string& t : trace) {
    if (next < wanted.size() && t == wanted[next]) ++next;
  }
  return next == wanted.size();
}

std::string OpLog(uint32_t number, uint32_t address) {
  char line[OPLOG_LINE_SIZE];
  FormatOperationLog(number, address, line);
  return line;
}

bool AgentSite::WaitForTrace(const std::string& text, int timeout_ms) const {
  const auto start = Clock::now();
  do {
    if (Count(LogTexts(trace()), text) > 0) return true;
    SleepMs(50);
  } while (SecondsSince(start) * 1000 < timeout_ms);
  return false;
}

bool AgentSite::WaitForTracePrefix(const std::string& prefix, std::string* found,
                                   int timeout_ms) const {
  const auto start = Clock::now();
  do {
    for (const std::string& t : LogTexts(trace())) {
      if (t.compare(0, prefix.size(), prefix) == 0) {
        *found = t;
        return true;
      }
    }
    SleepMs(50);
  } while (SecondsSince(start) * 1000 < timeout_ms);
  return false;
}

std::string AgentServiceState(const WinePrefix& prefix) {
  const std::string out = prefix.Wine({"sc", "query", kAgentService}).out;
  for (const char* s : {"STOP_PENDING", "START_PENDING", "RUNNING", "STOPPED"}) {
    if (out.find(s) != std::string::npos) return s;
  }
  return "?";
}

void WriteServicesEntry(const WinePrefix& prefix, uint16_t port) {
  const fs::path file = fs::path(prefix.dir()) / "drive_c/windows/system32/drivers/etc/services";
  std::ifstream in(file);
  std::string kept, line;
  while (std::getline(in, line)) {
    if (line.compare(0, 11, "QX_WOL_AGT ") != 0) kept += line + "\n";
  }
  in.close();
  if (port != 0) kept += "QX_WOL_AGT " + std::to_string(port) + "/tcp\r\n";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << kept;
}

bool InstallAgentService(const WinePrefix& prefix, const std::string& source_dir,
                         const std::vector<std::string>& programs, AgentSite* site) {
  const fs::path orvel = fs::path(prefix.dir()) / "drive_c" / "ORVEL";
  site->log_dir = orvel / "LOG";
  std::error_code ec;
  fs::create_directories(site->log_dir, ec);
  for (const std::string& exe : programs) {
    fs::copy_file(WinBinDir(source_dir) + "/" + exe, orvel / exe,
                  fs::copy_options::overwrite_existing, ec);
    if (ec) return false;
  }
  site->port = FreePort();
  if (site->port == 0) return false;
  WriteServicesEntry(prefix, site->port);
  if (prefix.Wine({"reg", "add", kAgentKey, "/v", "LogFilePath", "/t", "REG_SZ", "/d",
                   "C:\\ORVEL\\LOG", "/f"}).exit_code != 0) {
    return false;
  }
  prefix.Wine({"sc", "delete", kAgentService});
  return prefix.Wine({"sc", "create", kAgentService, "binPath=", "C:\\ORVEL\\PWRAGENT.exe"})
             .exit_code == 0;
}

bool StartAgentService(const WinePrefix& prefix, uint16_t port) {
  prefix.Wine({"net", "start", kAgentService});
  if (port == 0) return true;
  const auto start = Clock::now();
  while (!Listening(port) && SecondsSince(start) < 20) SleepMs(50);
  return Listening(port);
}

double StopAgentService(const WinePrefix& prefix) {
  const auto start = Clock::now();
  prefix.Wine({"sc", "stop", kAgentService}, 90000);
  while (AgentServiceState(prefix) != "STOPPED" && SecondsSince(start) < 60) SleepMs(100);
  return SecondsSince(start);
}

}  // namespace e2e
