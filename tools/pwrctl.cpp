// pwrctl: the manager's side of the agent's wire protocol, for administrators
// and tests. Asks an agent for its MAC address, sends OFF, or sends raw bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/protocol.h"
#include "platform/socket.h"
#include "tools/hex.h"

namespace {

enum Exit {
  kOk = 0,
  kAnsweredNo = 1,
  kUsage = 2,
  kNoAddress = 3,
  kRefused = 4,
  kClosed = 5,
  kTimedOut = 6,
  kMalformed = 7,
  kSocketError = 8,
};

const char kHelp[] =
    "usage: pwrctl [-t SECONDS] mac HOST[:PORT]\n"
    "       pwrctl [-t SECONDS] off HOST[:PORT]\n"
    "       pwrctl [-t SECONDS] send HOST[:PORT] HEX\n"
    "\n"
    "Talks to the ORVEL Nimbrel agent (PWRAGENT) as the manager console does.\n"
    "  mac   asks for the MAC address of the adapter the connection arrives on\n"
    "  off   sends OFF: the agent acknowledges, then powers its PC off\n"
    "  send  sends the bytes given in hexadecimal (spaces allowed) and prints\n"
    "        the reply bytes in hexadecimal\n"
    "Without PORT the port of the services entry QX_WOL_AGT/tcp is used.\n"
    "A reply is awaited for SECONDS (default 10).\n"
    "\n"
    "exit codes:\n"
    "  0  answered: MAC printed, OFF acknowledged, reply bytes printed\n"
    "  1  answered, but no MAC is known (status 2) or the answer is not the\n"
    "     one asked for (for example status 1, unknown command)\n"
    "  2  usage error\n"
    "  3  host not found, or no services entry QX_WOL_AGT/tcp\n"
    "  4  connection refused or not possible\n"
    "  5  connection closed without a reply\n"
    "  6  no reply in time\n"
    "  7  malformed reply\n"
    "  8  other socket error\n";

int Usage() {
  std::fputs(kHelp, stderr);
  return kUsage;
}

double NowMs() {
  // A steady clock: the time of day would turn a reply that spans midnight
  // into a wait of a day.
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

int Connect(const char* target, platform::Socket* socket) {
  std::string host = target;
  platform::Ipv4Address remote{0, 0};
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos) {
    char* end = nullptr;
    const unsigned long port = std::strtoul(host.c_str() + colon + 1, &end, 10);
    if (colon + 1 == host.size() || *end != '\0' || port == 0 || port > 65535) {
      std::fprintf(stderr, "pwrctl: %s: not a port number\n", host.c_str() + colon + 1);
      return kUsage;
    }
    const uint8_t be[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
    std::memcpy(&remote.port, be, 2);
    host.resize(colon);
  } else if (!platform::LookupServicePort("QX_WOL_AGT", "tcp", &remote.port)) {
    std::fprintf(stderr,
                 "pwrctl: no services entry QX_WOL_AGT/tcp; give the port as HOST:PORT\n");
    return kNoAddress;
  }
  if (!platform::ResolveHost(host.c_str(), &remote.address)) {
    std::fprintf(stderr, "pwrctl: %s: host not found\n", host.c_str());
    return kNoAddress;
  }
  *socket = platform::Socket::Create();
  if (!socket->valid()) {
    std::fprintf(stderr, "pwrctl: cannot create a socket: code %d\n", platform::SocketError());
    return kSocketError;
  }
  if (!socket->Connect(remote)) {
    const int code = platform::SocketError();
    if (platform::IsRefused(code)) {
      std::fprintf(stderr, "pwrctl: %s: connection refused (is the agent running?)\n", target);
    } else {
      std::fprintf(stderr, "pwrctl: %s: cannot connect: code %d\n", target, code);
    }
    return kRefused;
  }
  return kOk;
}

int SendAll(platform::Socket& socket, const uint8_t* bytes, size_t size) {
  if (socket.Send(bytes, static_cast<int>(size)) != static_cast<int>(size)) {
    std::fprintf(stderr, "pwrctl: send failed: code %d\n", platform::SocketError());
    return kSocketError;
  }
  return kOk;
}

// Appends what arrives until `done` says enough, the peer closes or the
// deadline passes. Returns kOk, kClosed (with what came before), kTimedOut or
// kSocketError.
template <typename Done>
int Receive(platform::Socket& socket, double deadline_ms, std::vector<uint8_t>* bytes, Done done) {
  while (!done(*bytes)) {
    const double left = deadline_ms - NowMs();
    if (left <= 0) return kTimedOut;
    const int ready = socket.WaitReadable(static_cast<uint32_t>(left));
    if (ready < 0) return kSocketError;
    if (ready == 0) return kTimedOut;
    uint8_t chunk[512];
    const int n = socket.Recv(chunk, sizeof chunk);
    if (n < 0) return kSocketError;
    if (n == 0) return kClosed;
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  return kOk;
}

int ReportFailure(int rc, size_t received) {
  switch (rc) {
    case kClosed:
      if (received == 0) {
        std::fprintf(stderr, "pwrctl: the agent closed the connection without a reply\n");
        return kClosed;
      }
      std::fprintf(stderr, "pwrctl: the connection closed after %u bytes of a reply\n",
                   static_cast<unsigned>(received));
      return kMalformed;
    case kTimedOut:
      std::fprintf(stderr, "pwrctl: no reply in time\n");
      return kTimedOut;
    default:
      std::fprintf(stderr, "pwrctl: receive failed: code %d\n", platform::SocketError());
      return kSocketError;
  }
}

int Command(const char* target, uint32_t command, uint32_t timeout_ms) {
  platform::Socket socket;
  int rc = Connect(target, &socket);
  if (rc != kOk) return rc;
  uint8_t request[AGENT_BLOCK_SIZE];
  const uint32_t size = BuildRequest(request, command);
  if ((rc = SendAll(socket, request, size)) != kOk) return rc;

  std::vector<uint8_t> reply;
  AgentResponse response{};
  ResponseParse parse = ResponseParse::kIncomplete;
  rc = Receive(socket, NowMs() + timeout_ms, &reply, [&](const std::vector<uint8_t>& b) {
    size_t used = 0;
    parse = b.empty() ? ResponseParse::kIncomplete
                      : ParseResponse(b.data(), b.size(), &response, &used);
    return parse != ResponseParse::kIncomplete;
  });
  if (rc != kOk) return ReportFailure(rc, reply.size());
  if (parse == ResponseParse::kMalformed) {
    std::fprintf(stderr, "pwrctl: malformed reply: %s\n", ToHex(reply.data(), reply.size()).c_str());
    return kMalformed;
  }

  if (command == CMD_MAC && response.code == RSP_MAC && response.status == ST_OK) {
    const uint8_t* m = response.mac;
    std::printf("%02X-%02X-%02X-%02X-%02X-%02X\n", m[0], m[1], m[2], m[3], m[4], m[5]);
    return kOk;
  }
  if (command == CMD_MAC && response.code == RSP_MAC && response.status == ST_NO_MAC) {
    std::printf("no MAC address known for the address this connection arrived on (status 2)\n");
    return kAnsweredNo;
  }
  if (command == CMD_OFF && response.code == RSP_OFF && response.status == ST_OK) {
    std::printf("OFF acknowledged (code 0x%08X, status 0)\n", response.code);
    return kOk;
  }
  std::printf("unexpected answer: code 0x%08X, status %u\n", response.code, response.status);
  return kAnsweredNo;
}

int SendRaw(const char* target, const char* hex, uint32_t timeout_ms) {
  std::vector<uint8_t> bytes;
  if (!ParseHex(hex, &bytes)) {
    std::fprintf(stderr, "pwrctl: %s: not an even number of hexadecimal digits\n", hex);
    return kUsage;
  }
  platform::Socket socket;
  int rc = Connect(target, &socket);
  if (rc != kOk) return rc;
  if ((rc = SendAll(socket, bytes.data(), bytes.size())) != kOk) return rc;

  // The first bytes within the timeout, then whatever follows closely; an
  // answered agent keeps the connection open, so there is no end to wait for.
  std::vector<uint8_t> reply;
  rc = Receive(socket, NowMs() + timeout_ms, &reply,
               [](const std::vector<uint8_t>& b) { return !b.empty(); });
  if (rc == kOk) {
    rc = Receive(socket, NowMs() + 300, &reply, [](const std::vector<uint8_t>&) { return false; });
    if (rc == kTimedOut || rc == kClosed) rc = kOk;
  }
  if (rc != kOk) return ReportFailure(rc, reply.size());
  std::printf("%s\n", ToHex(reply.data(), reply.size()).c_str());
  AgentResponse response{};
  size_t used = 0;
  if (ParseResponse(reply.data(), reply.size(), &response, &used) == ResponseParse::kOk) {
    std::printf("code 0x%08X, status %u, data length %u\n", response.code, response.status,
                response.data_length);
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t timeout_ms = 10000;
  int i = 1;
  if (i < argc && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return kOk;
  }
  if (i + 1 < argc && std::strcmp(argv[i], "-t") == 0) {
    char* end = nullptr;
    const double seconds = std::strtod(argv[i + 1], &end);
    if (*end != '\0' || seconds <= 0 || seconds > 3600) return Usage();
    timeout_ms = static_cast<uint32_t>(seconds * 1000);
    i += 2;
  }
  if (i >= argc) return Usage();
  const std::string verb = argv[i];
  const int rest = argc - i - 1;
  if (platform::SocketsStartup() != 0) {
    std::fprintf(stderr, "pwrctl: cannot start Windows Sockets\n");
    return kSocketError;
  }
  int rc;
  if (verb == "mac" && rest == 1) {
    rc = Command(argv[i + 1], CMD_MAC, timeout_ms);
  } else if (verb == "off" && rest == 1) {
    rc = Command(argv[i + 1], CMD_OFF, timeout_ms);
  } else if (verb == "send" && rest == 2) {
    rc = SendRaw(argv[i + 1], argv[i + 2], timeout_ms);
  } else {
    rc = Usage();
  }
  std::fflush(stdout);
  platform::SocketsCleanup();
  return rc;
}
