#include "agent/listener.h"

#include <cstdio>
#include <cstring>

#include "agent/adapters.h"
#include "agent/agent_events.h"
#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "agent/allowed_managers.h"
#include "agent/manager_keys.h"
#include "agent/power_off.h"
#include "agent/protocol.h"
#include "agent/relay.h"
#include "agent/signed_commands.h"
#include "log/operation_log.h"
#include "platform/settings.h"
#include "platform/thread.h"

namespace {

constexpr int kSocketAttempts = 5;
constexpr unsigned kSocketRetryMs = 20;
// Where no stop signal could be made: the longest wait for a connection
// before dwAgentEnd is looked at again.
constexpr unsigned kAcceptPollMs = 100;
// After an accept error, so that a lasting one cannot spin the chain.
constexpr unsigned kAcceptErrorPauseMs = 100;
constexpr unsigned kThreadRetryMs = 100;
// A reservation of address space: 1,000 connections take 64 MB, which fits a
// 32-bit process; buffers of any size are on the heap. The power-off does not
// run on it: measured by filling a stack with a pattern, the first OFF took
// 71 KB under 64-bit Wine (70 KB of it CreateEnvironmentBlock and
// CreateProcessAsUserA), so it runs on a thread of the default stack (1 MB or
// more, over ten times that).
constexpr size_t kThreadStackBytes = 64 * 1024;
// Room for a Port value as someone may have typed it; the trace line shows
// what fits a record anyway.
constexpr size_t kPortValueBytes = 64;

// Set once before the first accept thread starts and never destroyed, so a
// thread that outlives the stop sequence cannot meet a dead object.
platform::Socket& hListenSocket() {
  static platform::Socket* socket = new platform::Socket;
  return *socket;
}

// Raised by the stop sequence; ends the wait of every accept thread, of
// those started later too. Made before the first accept thread starts.
platform::WakeSignal& hStopSignal() {
  static platform::WakeSignal* signal = new platform::WakeSignal;
  return *signal;
}

// The agent serves nobody: a call of the listening socket failed.
void ReportNoSocket(const char* call, int error) {
  char reason[80];
  std::snprintf(reason, sizeof reason, "no socket: %s() failed with code %d", call, error);
  ReportAgentEvent(AgentEvent::kStartFailed, {reason});
}

void StartSuccessor() {
  while (!platform::StartDetachedThread(AcceptThreadProc, nullptr, kThreadStackBytes)) {
    platform::SleepMs(kThreadRetryMs);
  }
}

// OFF was acknowledged; only one power-off runs at a time on this PC.
void RunPowerOff() {
  const platform::WaitResult r = hShutdownMutex.Wait(0);
  if (r != platform::WaitResult::kAcquired && r != platform::WaitResult::kAbandoned) {
    Trace("Error WaitForSingleObject() : Code = %d", static_cast<int>(platform::LastError()));
    return;
  }
  uint32_t code = 0;
  const auto count_down = [](void* result) { *static_cast<uint32_t*>(result) = CountDown(); };
  // Never on this thread's small stack: an overflow would end the service.
  if (platform::RunOnDefaultStack(count_down, &code)) {
    Trace("CountDown() finished : Code = %d", static_cast<int>(code));
  } else {
    Trace("Error CreateThread() : Code = %d", static_cast<int>(platform::LastError()));
  }
  hShutdownMutex.Release();
}

// The OFF road, the same for a plain and a signed OFF: the answer goes
// first, the power-off sequence after it.
uint32_t AcceptOff(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t code, uint32_t peer) {
  Trace("OFF Command Received : IPaddress %x", peer);
  WriteOperationLog(OPLOG_POWER_OFF_RECEIVED, peer, LOG_AGENT_USER);
  return BuildStatusResponse(area, code, ST_OK);
}

// A plain command where only signed ones are taken: status 3, and the
// connection is closed after the answer.
uint32_t RefusePlain(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t code, const char* command,
                     uint32_t peer) {
  Trace("Command Refused : plain %s IPaddress %x", command, peer);
  char reason[24];
  std::snprintf(reason, sizeof reason, "plain %s", command);
  ReportAgentEvent(AgentEvent::kRefused, {ManagerAddress(peer).text, reason});
  return BuildStatusResponse(area, code, ST_REFUSED);
}

// The address of this PC that the connection arrived on. An unreadable one
// is 255.255.255.255, which matches no adapter and no network: status 2.
uint32_t ReachedAddress(platform::Socket& connection) {
  platform::Ipv4Address local{0xFFFFFFFFu, 0};
  if (connection.LocalAddress(&local)) return local.address;
  Trace("Error getsockname() : Code = %d", platform::SocketError());
  return 0xFFFFFFFFu;
}

// Sends the MAC's magic packets to the broadcast of the network the
// connection arrived on; the answer's status.
uint32_t ServeWakeRelay(platform::Socket& connection, const uint8_t* request, uint32_t peer) {
  Trace("WAKE RELAY Command Received : IPaddress %x", peer);
  return RelayWake(ReachedAddress(connection), request + OFS_MAC);
}

// Serves requests on one connection until it ends; the caller closes it.
void ServeConnection(platform::Socket& connection, uint32_t peer) {
  // With a ManagerKey value the signed commands are answered, and a plain OFF
  // is refused; without one both are unknown commands, as they always were.
  const bool signed_only = SignedCommandsRequired(LoadedManagerKeys());
  ChallengeState challenge;
  for (;;) {
    uint8_t block[AGENT_BLOCK_SIZE];
    std::memset(block, 0, sizeof block);
    const int received = connection.Recv(block, sizeof block);
    const int recv_error = received < 0 ? platform::SocketError() : 0;

    uint8_t area[AGENT_BLOCK_SIZE];
    uint8_t challenge_area[AGENT_CHALLENGE_MESSAGE_SIZE];
    const uint8_t* reply = area;
    uint32_t size = 0;
    bool power_off_due = false;
    bool close_after = false;
    int key_number = 0;  // of the key that signed the request; 0: unsigned
    RequestCheck check = CheckRequest(received, block);
    if (check == RequestCheck::kWakeRelayShort) {
      const int whole = ReadRestOfRequest(connection, block, received, AGENT_RELAY_MESSAGE_SIZE);
      if (whole < 0) {
        Trace("Error recv() : Invalid Data Length IPaddress %x", peer);
        return;
      }
      check = CheckRequest(whole, block);
    }
    if (!signed_only && (check == RequestCheck::kChallenge || check == RequestCheck::kSignedOff ||
                         check == RequestCheck::kSignedWakeRelay)) {
      check = RequestCheck::kUnknownCommand;
    }
    switch (check) {
      case RequestCheck::kRecvError:
        Trace("Error recv() : Code = %d IPaddress %x", recv_error, peer);
        return;
      case RequestCheck::kBroken:
        Trace("Connection Broken : IPaddress %x", peer);
        return;
      case RequestCheck::kBadLength:
        Trace("Error recv() : Invalid Data Length IPaddress %x", peer);
        return;
      case RequestCheck::kBadHeaderId:
        Trace("Error recv() : Invalid HeaderID IPaddress %x", peer);
        return;
      case RequestCheck::kBadVersion:
        Trace("Error recv() : Invalid Data Version IPaddress %x", peer);
        return;
      case RequestCheck::kOff:
        if (signed_only) {
          size = RefusePlain(area, RSP_OFF, "OFF", peer);
          close_after = true;
          break;
        }
        size = AcceptOff(area, RSP_OFF, peer);
        power_off_due = true;
        break;
      case RequestCheck::kChallenge:
        Trace("CHALLENGE Command Received : IPaddress %x", peer);
        size = IssueChallenge(&challenge, MonotonicMs(), challenge_area);
        reply = challenge_area;
        if (size == 0) {
          Trace("Error GenRandom() : IPaddress %x", peer);
          size = BuildStatusResponse(area, RSP_CHALLENGE, ST_REFUSED);
          reply = area;
        }
        break;
      case RequestCheck::kSignedOff: {
        uint8_t request[AGENT_SIGNED_MESSAGE_SIZE];
        const SignedRead read =
            ReadSignedRequest(connection, block, received, &challenge, peer, request, &key_number);
        if (read == SignedRead::kDropped) return;
        if (read == SignedRead::kAccepted && GetLe32(request + OFS_ACTION) == ACTION_POWER_OFF) {
          size = AcceptOff(area, RSP_SIGNED_OFF, peer);
          power_off_due = true;
          break;
        }
        if (read == SignedRead::kAccepted) Trace("Command Refused : bad action IPaddress %x", peer);
        size = BuildStatusResponse(area, RSP_SIGNED_OFF, ST_REFUSED);
        close_after = true;
        break;
      }
      case RequestCheck::kMac: {
        Trace("MAC Command Received : IPaddress %x", peer);
        uint8_t mac[6];
        const bool known = FindReachedMac(ReachedAddress(connection), mac);
        size = BuildMacResponse(area, known ? mac : nullptr);
        break;
      }
      case RequestCheck::kWakeRelay:
        if (signed_only) {
          size = RefusePlain(area, RSP_WAKE_RELAY, "WAKE RELAY", peer);
          close_after = true;
          break;
        }
        size = BuildStatusResponse(area, RSP_WAKE_RELAY, ServeWakeRelay(connection, block, peer));
        break;
      case RequestCheck::kSignedWakeRelay: {
        uint8_t request[AGENT_SIGNED_MESSAGE_SIZE];
        const SignedRead read =
            ReadSignedRequest(connection, block, received, &challenge, peer, request, &key_number);
        if (read == SignedRead::kDropped) return;
        // The signature covers the MAC and its two zero bytes after it.
        const bool zeros = request[OFS_MAC + 6] == 0 && request[OFS_MAC + 7] == 0;
        if (read == SignedRead::kAccepted && zeros) {
          size = BuildStatusResponse(area, RSP_WAKE_RELAY, ServeWakeRelay(connection, request, peer));
          break;
        }
        if (read == SignedRead::kAccepted) Trace("Command Refused : bad MAC IPaddress %x", peer);
        size = BuildStatusResponse(area, RSP_WAKE_RELAY, ST_REFUSED);
        close_after = true;
        break;
      }
      case RequestCheck::kWakeRelayShort:  // the rest did not make it whole
      case RequestCheck::kUnknownCommand:
        Trace("Error recv() : Invalid Command IPaddress %x", peer);
        size = BuildUnknownCommandResponse(area);
        break;
    }

    if (connection.Send(reply, static_cast<int>(size)) < 0) {
      Trace("Error send() : Code = %d IPaddress %x", platform::SocketError(), peer);
      return;
    }
    Trace("Response Data Send : IPaddress %x", peer);
    if (close_after) return;
    if (!power_off_due) continue;
    char how[40] = "unsigned";
    if (key_number != 0) std::snprintf(how, sizeof how, "signed with manager key %d", key_number);
    ReportAgentEvent(AgentEvent::kPowerOffAccepted, {ManagerAddress(peer).text, how});
    RunPowerOff();
  }
}

void AcceptAndServe() {
  if (dwServiceStop) return;
  dwThreadEnd = 0;
  WriteLog("accept OK dwThreadEnd = 0 ｾｯﾄ", LOG_AGENT);

  platform::Socket connection;
  platform::Ipv4Address peer{0, 0};
  for (;;) {
    // Accepts as soon as a connection arrives, and sleeps until then: only
    // the stop wakes it otherwise. A failed wait is followed by accept too, so
    // that its error is the one logged.
    const bool wakeable = hStopSignal().valid();
    const int ready = hListenSocket().WaitReadable(
        wakeable ? platform::kWaitForever : kAcceptPollMs, &hStopSignal());
    if (ready == 1 || ready == -1) connection = hListenSocket().Accept(&peer);
    const int error = connection.valid() ? 0 : platform::SocketError();
    if (dwAgentEnd == 1) {
      dwThreadEnd = 1;
      WriteLog("AcceptThreadProc accept()中断 : dwAgentEnd = 1", LOG_AGENT);
      return;
    }
    if (connection.valid()) break;
    // A connection the peer reset before accept also ends as would-block.
    if (ready == 0 || ready == 2 || platform::IsWouldBlock(error)) continue;
    platform::SleepMs(kAcceptErrorPauseMs);
    StartSuccessor();
    Trace("Error accept() : Code = %d", error);
    return;
  }

  if (!connection.SetNonBlocking(false)) {
    WriteLog("ioctlsocket 同期ﾓｰﾄﾞ Error", LOG_AGENT);
    // Without a successor no connection would ever be accepted again.
    connection.Close();
    StartSuccessor();
    return;
  }
  WriteLog("AcceptThreadProc accept ﾃﾞｰﾀ有り", LOG_AGENT);
  StartSuccessor();
  // Refused before anything is read: no reply, no operation-log message.
  if (!ManagerAllowed(peer.address)) {
    Trace("Connection Refused : IPaddress %x", peer.address);
    connection.Close();
    ReportAgentEvent(AgentEvent::kRefused,
                     {ManagerAddress(peer.address).text, "not in AllowedManagers"});
    return;
  }
  Trace("Connection Established : IPaddress %x", peer.address);
  ServeConnection(connection, peer.address);
}

}  // namespace

bool ParseAgentPort(const char* text, uint16_t* port) {
  if (*text == '\0') return false;
  unsigned long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*c - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

int GetAgentPort(platform::Ipv4Address* address) {
  uint16_t port = 0;
  char value[kPortValueBytes];
  const platform::SettingRead read =
      platform::ReadSettingChecked(AGENT_KEY, "Port", value, sizeof value);
  if (read == platform::SettingRead::kRead && ParseAgentPort(value, &port)) {
    const uint8_t network_order[2] = {static_cast<uint8_t>(port >> 8),
                                      static_cast<uint8_t>(port)};
    std::memcpy(&port, network_order, 2);
  } else {
    if (read == platform::SettingRead::kRead) Trace("Error Port : \"%s\"", value);
    if (read == platform::SettingRead::kTooLong) {
      Trace("Error Port : over %u bytes", static_cast<unsigned>(sizeof value - 1));
    }
    if (!platform::LookupServicePort("QX_WOL_AGT", "tcp", &port)) return 0;
  }
  address->address = 0;
  address->port = port;
  return 1;
}

void StartListen() {
  platform::Socket socket;
  for (int attempt = 1; attempt <= kSocketAttempts; ++attempt) {
    socket = platform::Socket::Create();
    if (socket.valid()) break;
    if (attempt == kSocketAttempts) {
      const int error = platform::SocketError();
      Trace("Error socket() : Code = %d", error);
      ReportNoSocket("socket", error);
      return;
    }
    platform::SleepMs(kSocketRetryMs);
  }

  platform::Ipv4Address address;
  if (!GetAgentPort(&address)) {
    Trace("Error getservbyname() : Code = %d", platform::SocketError());
    ReportAgentEvent(AgentEvent::kStartFailed,
                     {"no port: no valid Port setting and no services entry QX_WOL_AGT/tcp"});
    return;
  }
  if (!socket.Bind(address)) {
    const int error = platform::SocketError();
    Trace("Error bind() : Code = %d", error);
    ReportNoSocket("bind", error);
    return;
  }
  if (!socket.Listen(platform::kMaxBacklog)) {
    const int error = platform::SocketError();
    Trace("Error listen() : Code = %d", error);
    ReportNoSocket("listen", error);
    return;
  }
  const bool nonblocking = socket.SetNonBlocking(true);
  // Kept open even when it cannot be made non-blocking; no thread uses it then.
  hListenSocket() = static_cast<platform::Socket&&>(socket);
  if (!nonblocking) {
    WriteLog("ioctlsocket 非中断ﾓｰﾄﾞ Error", LOG_AGENT);
    return;
  }
  hStopSignal() = platform::WakeSignal::Create();
  // A failed start is neither retried nor logged; the port stays unserved.
  platform::StartDetachedThread(AcceptThreadProc, nullptr, kThreadStackBytes);
}

void AcceptThreadProc(void* /*unused*/) {
  ++ThreadCnt;
  AcceptAndServe();
  --ThreadCnt;
}

void WakeAcceptThreads() {
  if (hStopSignal().valid()) hStopSignal().Raise();
}
