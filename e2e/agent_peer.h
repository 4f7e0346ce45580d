// The manager's side and the agent's logs, for the end-to-end tests of the
// agent: a loopback connection that speaks the wire protocol, the agent's
// port, service settings and log folder, and the texts of its logs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/protocol.h"
#include "e2e/harness.h"
#include "log/log_test_support.h"
#include "platform/socket.h"

namespace e2e {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

extern const char kAgentService[];  // the service's name
extern const char kAgentKey[];      // its settings in the registry

double SecondsSince(Clock::time_point t);
void SleepMs(int ms);

// A socket of this machine listens on the port (from /proc/net/tcp).
bool Listening(uint16_t port);
// A loopback port free at the moment; 0 when none could be had.
uint16_t FreePort();

// A request for the command, zero-padded or cut to `size` bytes.
Bytes Request(uint32_t command, size_t size = AGENT_MESSAGE_SIZE);
Bytes NoMacReply();  // no adapter owns the manager's address
Bytes OffReply();
Bytes UnknownCommandReply();

// A manager's connection to the agent on loopback.
class Manager {
 public:
  explicit Manager(uint16_t port);
  bool connected() const { return connected_; }

  bool Send(const Bytes& b);
  // Exactly `size` bytes, or what came before a close or the time-out.
  Bytes Read(size_t size, int timeout_ms = 10000);
  Bytes Ask(const Bytes& request, size_t reply_size, int timeout_ms = 10000);
  // The agent closed the connection and sent nothing before.
  bool ClosedWithoutReply(int timeout_ms = 10000);
  // Nothing arrives and the connection stays open.
  bool Quiet(int ms);
  void Close() { socket_.Close(); }

 private:
  platform::Socket socket_;
  bool connected_ = false;
};

// The texts of a ring log, oldest first, without their timestamps.
using logtest::LogTexts;

size_t Count(const Texts& texts, const std::string& text);
size_t CountPrefix(const Texts& texts, const std::string& prefix);
// The texts appear in this order, other lines (of other threads) between them.
bool InOrder(const Texts& trace, const Texts& wanted);
// A line of the operation log as the agent writes it.
std::string OpLog(uint32_t number, uint32_t address = 0);

// An agent under test: where it listens and where it logs.
struct AgentSite {
  uint16_t port = 0;
  std::filesystem::path log_dir;

  std::filesystem::path trace() const { return log_dir / "QX_WOL_A.LOG"; }
  std::filesystem::path oplog() const { return log_dir / "TAVANLOG.TXT"; }

  bool WaitForTrace(const std::string& text, int timeout_ms = 10000) const;
  bool WaitForTracePrefix(const std::string& prefix, std::string* found,
                          int timeout_ms = 10000) const;
};

// The agent as a service of a Wine prefix: its state as `sc query` names it
// ("RUNNING", "STOPPED", ...; "?" for none of them), and its port in the
// prefix's services file (0: no entry).
std::string AgentServiceState(const WinePrefix& prefix);
void WriteServicesEntry(const WinePrefix& prefix, uint16_t port);

// Puts the agent in the prefix as an administrator would: the programs named
// (from source_dir/build/win32/bin) in C:\ORVEL, the log folder C:\ORVEL\LOG
// as LogFilePath, a free port in the services file, and the service
// registered anew. Fills site; false when a step fails.
bool InstallAgentService(const WinePrefix& prefix, const std::string& source_dir,
                         const std::vector<std::string>& programs, AgentSite* site);
// `net start`, then, for a port other than 0, waits up to 20 s for it to
// open; false when it does not.
bool StartAgentService(const WinePrefix& prefix, uint16_t port);
// `sc stop`, then waits up to 60 s for the stopped state; the seconds taken.
double StopAgentService(const WinePrefix& prefix);

}  // namespace e2e
