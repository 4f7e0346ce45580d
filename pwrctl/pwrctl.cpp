// pwrctl: the manager's side of the agent's wire protocol, for administrators
// and tests. Asks an agent for its MAC address, sends OFF, or sends raw bytes;
// asks many agents at once (scan, off of several hosts) and wakes PCs by MAC.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "agent/protocol.h"
#include "platform/socket.h"
#include "pwrctl/hex.h"
#include "pwrctl/key_commands.h"
#include "pwrctl/relay.h"
#include "pwrctl/scan.h"
#include "pwrctl/targets.h"
#include "pwrctl/wake.h"
#include "pwrctl/wake_wait.h"

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
    "       pwrctl [-t SECONDS] off [--key FILE] HOST[:PORT]\n"
    "       pwrctl [-t SECONDS] send HOST[:PORT] HEX\n"
    "       pwrctl scan [-t SECONDS] [-p PORT] [-j N] [--csv | --json] TARGET...\n"
    "       pwrctl off [-t SECONDS] [-p PORT] [-j N] [--csv | --json] [--yes] [--key FILE]\n"
    "                  TARGET...\n"
    "       pwrctl wake [--to ADDRESS] [-p PORT] [-n COUNT] [--relay [--prefix N] | --via\n"
    "                   HOST[:PORT]] [--wait[=SECONDS]] [--csv | --json] [--key FILE]\n"
    "                   MAC... | @FILE...\n"
    "       pwrctl keygen FILE\n"
    "       pwrctl pubkey FILE\n"
    "       pwrctl --help | --version\n"
    "\n"
    "Talks to the ORVEL Nimbrel agent (PWRAGENT) as the manager console does.\n"
    "  mac   asks for the MAC address of the adapter the connection arrives on\n"
    "  off   sends OFF: the agent acknowledges, then powers its PC off. With\n"
    "        --key FILE (or the environment variable PWRCTL_KEY) it asks for a\n"
    "        challenge first and sends the OFF signed with that key to an agent\n"
    "        that takes only signed commands, the plain OFF to one that does not\n"
    "  send  sends the bytes given in hexadecimal (spaces allowed) and prints\n"
    "        the reply bytes in hexadecimal\n"
    "  scan  asks every target for its MAC, N connections at once (-j, default\n"
    "        64, at most 1024), and prints one line a host in address order:\n"
    "        the address and the MAC, or the outcome: refused, unreachable,\n"
    "        timed out, no MAC known, closed, malformed, unexpected answer;\n"
    "        then \"signed\" for an agent that takes only signed commands,\n"
    "        \"open\" for one that takes a plain OFF from anyone\n"
    "        (--csv: address,mac,outcome,signed; --json: an array of objects)\n"
    "  off   with several hosts powers each off and prints the same table:\n"
    "        acknowledged (signed), \"acknowledged, unsigned\" (the plain OFF),\n"
    "        refused (the agent refused it), or the outcome; more than one host\n"
    "        needs --yes\n"
    "  keygen writes a new private key to FILE, readable by its owner only,\n"
    "        and prints its public key for the agents' ManagerKey setting; an\n"
    "        existing FILE is never overwritten\n"
    "  pubkey prints the public key of the key FILE again\n"
    "  wake  sends the Wake-on-LAN magic packet for each MAC (00-11-22-AB-CD-EF,\n"
    "        00:11:22:AB:CD:EF or 001122ABCDEF) by UDP to 255.255.255.255, or to\n"
    "        the broadcast ADDRESS of --to, port 9 or PORT; COUNT times, 100 ms\n"
    "        apart (-n, default 3). --relay: for a PC of a saved scan table on\n"
    "        another network than this machine's (the first N bits, --prefix,\n"
    "        default 24), the agents of the table's other rows in that network\n"
    "        are asked in turn to send it there, until one does; --via asks the\n"
    "        agent at HOST for every PC; with --key FILE (or PWRCTL_KEY) a relay\n"
    "        that takes only signed commands is asked in the signed form.\n"
    "        --wait: asks each PC's agent for its MAC\n"
    "        every 2 s until it answers or SECONDS (default 180) pass, sending\n"
    "        again every 30 s. One line a PC: MAC, address, how it was sent\n"
    "        (broadcast, via ADDRESS, relay failed: ADDRESS WHY, no relay in\n"
    "        NETWORK) and, with --wait, awake after N s or no answer after N s\n"
    "A TARGET is an address or a host name, either as HOST:PORT too, a network\n"
    "A.B.C.D/N (N 16 to 32; below /31 without its network and broadcast\n"
    "addresses), a range A-B, or @FILE: one target a line, blank lines and #\n"
    "comments skipped, so a saved scan table is one; at most 65536 hosts in\n"
    "all. wake @FILE takes the MACs of a saved scan table (lines with an\n"
    "outcome are skipped).\n"
    "A target's own PORT wins over -p PORT, which wins over the port of the\n"
    "services entry QX_WOL_AGT/tcp; networks and ranges take -p or the entry.\n"
    "A table shows ADDRESS:PORT where the port is not that of -p or the entry.\n"
    "A connection and a reply are awaited for SECONDS each (default 10).\n"
    "\n"
    "exit codes:\n"
    "  0  answered: MAC printed, OFF acknowledged, reply bytes printed; scan:\n"
    "     every host answered with its MAC; off: every host acknowledged;\n"
    "     wake: every packet sent (and, with --wait, every PC answered)\n"
    "  1  answered, but no MAC is known (status 2) or the answer is not the\n"
    "     one asked for (for example status 1, unknown command); scan, off of\n"
    "     several hosts: some host did not answer so; wake: a packet or a\n"
    "     relay failed, or (--wait) a PC did not answer in time\n"
    "  2  usage error: also a bad or unknown TARGET, a bad MAC, off of\n"
    "     several hosts without --yes (then nothing is sent), a key file that\n"
    "     cannot be read, or keygen's FILE exists or cannot be written\n"
    "  3  host not found, or no services entry QX_WOL_AGT/tcp\n"
    "  4  connection refused or not possible, or the OFF refused (status 3)\n"
    "  5  connection closed without a reply\n"
    "  6  no connection or no reply in time\n"
    "  7  malformed reply\n"
    "  8  other socket error\n";

int Usage() {
  std::fputs(kHelp, stderr);
  return kUsage;
}

int Connect(const char* target, uint32_t timeout_ms, platform::Socket* socket) {
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
    remote.port = PortToNetwork(static_cast<uint16_t>(port));
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
  // Bounded, as a host that drops SYNs would hold a plain connect for minutes.
  if (!socket->ConnectWithin(remote, timeout_ms)) {
    const int code = platform::SocketError();
    if (platform::IsTimedOut(code)) {
      std::fprintf(stderr, "pwrctl: %s: no connection in time\n", target);
      return kTimedOut;
    }
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

// A read that did not end in a reply: its message and exit code.
int ReportFailure(Received how, size_t received) {
  switch (how) {
    case Received::kClosed:
      if (received == 0) {
        std::fprintf(stderr, "pwrctl: the agent closed the connection without a reply\n");
        return kClosed;
      }
      std::fprintf(stderr, "pwrctl: the connection closed after %u bytes of a reply\n",
                   static_cast<unsigned>(received));
      return kMalformed;
    case Received::kTimedOut:
      std::fprintf(stderr, "pwrctl: no reply in time\n");
      return kTimedOut;
    default:
      std::fprintf(stderr, "pwrctl: receive failed: code %d\n", platform::SocketError());
      return kSocketError;
  }
}

// An exchange that ended without the answer: its message and exit code.
int ReportOutcome(Outcome failure, const AgentResponse& response) {
  switch (failure) {
    case Outcome::kClosed:
      std::fprintf(stderr, "pwrctl: the agent closed the connection without a reply\n");
      return kClosed;
    case Outcome::kTimedOut: std::fprintf(stderr, "pwrctl: no reply in time\n"); return kTimedOut;
    case Outcome::kMalformed: std::fprintf(stderr, "pwrctl: malformed reply\n"); return kMalformed;
    case Outcome::kOtherAnswer:
      std::printf("unexpected answer: code 0x%08X, status %u\n", response.code, response.status);
      return kAnsweredNo;
    default:
      std::fprintf(stderr, "pwrctl: the exchange failed: code %d\n", platform::SocketError());
      return kSocketError;
  }
}

int Command(const char* target, uint32_t command, uint32_t timeout_ms,
            const ManagerKeyPair* key) {
  platform::Socket socket;
  int rc = Connect(target, timeout_ms, &socket);
  if (rc != kOk) return rc;
  if (command == CMD_OFF && key) {
    AgentResponse response{};
    Outcome failure = Outcome::kError;
    Locking locking = Locking::kUnknown;
    if (!SendSignedOff(socket, *key, timeout_ms, &locking, &response, &failure)) {
      return ReportOutcome(failure, response);
    }
    // An agent without a key gets the plain OFF below, on this connection.
    if (locking == Locking::kSignedOnly) {
      switch (ClassifyAnswer(CMD_SIGNED_OFF, response)) {
        case Outcome::kAcknowledged:
          std::printf("OFF acknowledged, signed (code 0x%08X, status 0)\n", response.code);
          return kOk;
        case Outcome::kDenied:
          std::printf("signed OFF refused (code 0x%08X, status 3)\n", response.code);
          std::fprintf(stderr,
                       "pwrctl: %s refused the signed OFF: its ManagerKey lacks this key, or "
                       "the answer came too late (see its trace log)\n",
                       target);
          return kRefused;
        default: return ReportOutcome(Outcome::kOtherAnswer, response);
      }
    }
  }
  uint8_t request[AGENT_BLOCK_SIZE];
  const uint32_t size = BuildRequest(request, command);
  if ((rc = SendAll(socket, request, size)) != kOk) return rc;

  std::vector<uint8_t> reply;
  AgentResponse response{};
  ResponseParse parse;
  const Received how = ReceiveReply(socket, timeout_ms, &reply, &response, &parse);
  if (how != Received::kDone) return ReportFailure(how, reply.size());
  if (parse == ResponseParse::kMalformed) {
    std::fprintf(stderr, "pwrctl: malformed reply: %s\n", ToHex(reply.data(), reply.size()).c_str());
    return kMalformed;
  }

  switch (ClassifyAnswer(command, response)) {
    case Outcome::kMac:
      std::printf("%s\n", FormatMac(response.mac).c_str());
      return kOk;
    case Outcome::kNoMac:
      std::printf("no MAC address known for the address this connection arrived on (status 2)\n");
      return kAnsweredNo;
    case Outcome::kUnsigned:
      std::printf("OFF acknowledged%s (code 0x%08X, status 0)\n", key ? ", unsigned" : "",
                  response.code);
      return kOk;
    case Outcome::kDenied:
      std::printf("OFF refused (code 0x%08X, status 3)\n", response.code);
      std::fprintf(stderr,
                   "pwrctl: %s takes only signed commands; give --key FILE (or set PWRCTL_KEY)\n",
                   target);
      return kRefused;
    default:
      std::printf("unexpected answer: code 0x%08X, status %u\n", response.code, response.status);
      return kAnsweredNo;
  }
}

int SendRaw(const char* target, const char* hex, uint32_t timeout_ms) {
  std::vector<uint8_t> bytes;
  if (!ParseHex(hex, &bytes)) {
    std::fprintf(stderr, "pwrctl: %s: not an even number of hexadecimal digits\n", hex);
    return kUsage;
  }
  platform::Socket socket;
  int rc = Connect(target, timeout_ms, &socket);
  if (rc != kOk) return rc;
  if ((rc = SendAll(socket, bytes.data(), bytes.size())) != kOk) return rc;

  // The first bytes within the timeout, then whatever follows closely; an
  // answered agent keeps the connection open, so there is no end to wait for.
  std::vector<uint8_t> reply;
  Received how =
      ReceiveUntil(socket, timeout_ms, &reply, [](const std::vector<uint8_t>& b) { return !b.empty(); });
  if (how == Received::kDone) {
    how = ReceiveUntil(socket, 300, &reply, [](const std::vector<uint8_t>&) { return false; });
    if (how == Received::kTimedOut || how == Received::kClosed) how = Received::kDone;
  }
  if (how != Received::kDone) return ReportFailure(how, reply.size());
  std::printf("%s\n", ToHex(reply.data(), reply.size()).c_str());
  AgentResponse response{};
  size_t used = 0;
  if (ParseResponse(reply.data(), reply.size(), &response, &used) == ResponseParse::kOk) {
    std::printf("code 0x%08X, status %u, data length %u\n", response.code, response.status,
                response.data_length);
  }
  return kOk;
}

// The largest target or wake file read; beyond it the file is refused.
constexpr size_t kMaxListFile = 16 * 1024 * 1024;

bool ReadListFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pwrctl: %s: cannot read the file\n", path.c_str());
    return false;
  }
  text->resize(kMaxListFile + 1);
  in.read(&(*text)[0], static_cast<std::streamsize>(text->size()));
  text->resize(static_cast<size_t>(in.gcount()));
  if (text->size() > kMaxListFile) {
    std::fprintf(stderr, "pwrctl: %s: a file larger than 16 MB is refused\n", path.c_str());
    return false;
  }
  return true;
}

bool ParsePort(const char* text, unsigned* port) {
  char* end = nullptr;
  const unsigned long n = std::strtoul(text, &end, 10);
  if (text[0] < '0' || text[0] > '9' || *end != '\0' || n == 0 || n > 65535) return false;
  *port = static_cast<unsigned>(n);
  return true;
}

bool ParseSeconds(const char* text, uint32_t* ms) {
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (*end != '\0' || !(seconds > 0) || seconds > 3600) return false;
  *ms = static_cast<uint32_t>(seconds * 1000);
  return true;
}

// A host name's address in host byte order, for ParseTargets.
bool ResolveName(const std::string& name, uint32_t* address) {
  uint32_t network_order = 0;
  if (!platform::ResolveHost(name.c_str(), &network_order)) return false;
  *address = NetworkToHost(network_order);
  return true;
}

// The hosts of the targets given, addresses in order; kOk or the exit code.
int ExpandTargets(const std::vector<std::string>& args, std::vector<TargetHost>* hosts) {
  if (args.empty()) return Usage();
  std::string error;
  for (const std::string& arg : args) {
    std::vector<std::string> targets(1, arg);
    if (arg[0] == '@') {
      std::string text;
      if (!ReadListFile(arg.substr(1), &text)) return kUsage;
      targets = TargetFileLines(text);
      if (targets.empty()) {
        std::fprintf(stderr, "pwrctl: %s: no targets in the file\n", arg.c_str() + 1);
        return kUsage;
      }
    }
    if (!ParseTargets(targets, ResolveName, hosts, &error)) {
      std::fprintf(stderr, "pwrctl: %s%s%s\n", arg[0] == '@' ? arg.c_str() + 1 : "",
                   arg[0] == '@' ? ": " : "", error.c_str());
      return kUsage;
    }
  }
  return kOk;
}

struct Options {
  uint32_t timeout_ms = 10000;
  int connections = 64;
  unsigned port = 0;  // 0: not given
  std::string to;
  TableFormat format = TableFormat::kText;
  std::string key;  // --key FILE, else $PWRCTL_KEY
  bool yes = false;
  bool any = false;  // an option after the verb
  // wake
  int count = 3;
  bool relay = false;
  std::string via;
  int prefix = 24;
  uint32_t wait_s = 0;
};

// A whole number from min to max, all digits.
bool ParseCount(const char* text, long min, long max, long* n) {
  char* end = nullptr;
  *n = std::strtol(text, &end, 10);
  return text[0] >= '0' && text[0] <= '9' && *end == '\0' && *n >= min && *n <= max;
}

// scan, or off of several hosts: the table, and 0 only if every host gave
// the answer asked for.
int AskMany(const std::vector<std::string>& args, uint32_t command, const Options& options,
            const ManagerKeyPair* key) {
  std::vector<TargetHost> hosts;
  int rc = ExpandTargets(args, &hosts);
  if (rc != kOk) return rc;
  if (command == CMD_OFF && hosts.size() > 1 && !options.yes) {
    std::fprintf(stderr,
                 "pwrctl: the targets name %u hosts; give --yes to power them all off\n",
                 static_cast<unsigned>(hosts.size()));
    return kUsage;
  }
  // A target's own port wins over -p, which wins over the services entry;
  // the entry is needed only for a host that has neither.
  uint16_t port = static_cast<uint16_t>(options.port);
  uint16_t entry = 0;
  const bool all_have_ports = std::all_of(hosts.begin(), hosts.end(),
                                          [](const TargetHost& h) { return h.port != 0; });
  if (port == 0 && platform::LookupServicePort("QX_WOL_AGT", "tcp", &entry)) {
    port = PortToHost(entry);
  } else if (port == 0 && !all_have_ports) {
    std::fprintf(stderr, "pwrctl: no services entry QX_WOL_AGT/tcp; give the port with -p PORT\n");
    return kNoAddress;
  }
  SetDefaultPort(&hosts, port);
  std::function<void(size_t, size_t)> progress;
  if (isatty(2)) {
    progress = [](size_t done, size_t total) {
      std::fprintf(stderr, "\r%s %u/%u%s", "scanned", static_cast<unsigned>(done),
                   static_cast<unsigned>(total), done == total ? "\n" : "");
    };
  }
  const std::vector<HostOutcome> outcomes =
      AskAll(hosts, command, options.connections, options.timeout_ms, progress, key);
  std::fputs(FormatOutcomes(outcomes, options.format, port).c_str(), stdout);
  const size_t denied = std::count_if(outcomes.begin(), outcomes.end(), [](const HostOutcome& r) {
    return r.outcome == Outcome::kDenied;
  });
  if (denied > 0 && !key) {
    std::fprintf(stderr,
                 "pwrctl: %u hosts take only signed commands; give --key FILE (or set "
                 "PWRCTL_KEY)\n",
                 static_cast<unsigned>(denied));
  }
  for (const HostOutcome& r : outcomes) {
    const bool done = command == CMD_MAC ? r.outcome == Outcome::kMac
                                         : r.outcome == Outcome::kAcknowledged ||
                                               r.outcome == Outcome::kUnsigned;
    if (!done) return kAnsweredNo;
  }
  return kOk;
}

// A table row's or --via's "HOST[:PORT]" as one agent; false when it names
// no single host.
bool OneAgent(const std::string& text, TargetHost* host) {
  std::vector<TargetHost> hosts;
  std::string error;
  uint8_t mac[6];
  if (ParseMac(text, mac) || !ParseTargets({text}, ResolveName, &hosts, &error) ||
      hosts.size() != 1) {
    return false;
  }
  *host = hosts[0];
  return true;
}

int Wake(const std::vector<std::string>& args, const Options& options, const ManagerKeyPair* key) {
  std::vector<WakeRow> rows;
  std::vector<TargetHost> agents;  // every row that names an agent: the relays to ask
  bool table = false;
  for (const std::string& arg : args) {
    if (arg[0] != '@') {
      rows.push_back({"", arg});
      continue;
    }
    table = true;
    std::string text;
    if (!ReadListFile(arg.substr(1), &text)) return kUsage;
    const std::vector<WakeRow> listed = WakeFileRows(text);
    // With --relay, a list of agents alone names relays only.
    if (listed.empty() && !options.relay) {
      std::fprintf(stderr, "pwrctl: %s: no MAC addresses in the file\n", arg.c_str() + 1);
      return kUsage;
    }
    rows.insert(rows.end(), listed.begin(), listed.end());
    for (const std::string& word : TargetFileLines(text)) {
      TargetHost agent;
      if (options.relay && OneAgent(word, &agent)) agents.push_back(agent);
    }
  }
  if (rows.empty()) return Usage();
  if (options.relay && !table) {
    std::fprintf(stderr, "pwrctl: --relay needs a saved scan table (@FILE) to find relays in\n");
    return kUsage;
  }
  // Every MAC and address is checked before the first packet goes out.
  std::vector<WakeTarget> targets(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!ParseMac(rows[i].mac, targets[i].mac)) {
      std::fprintf(stderr,
                   "pwrctl: \"%s\": not a MAC address (00-11-22-AB-CD-EF, 00:11:22:AB:CD:EF or "
                   "001122ABCDEF)\n",
                   rows[i].mac.c_str());
      return kUsage;
    }
    targets[i].has_address = !rows[i].address.empty() && OneAgent(rows[i].address, &targets[i].host);
  }
  TargetHost via{0, 0};
  if (!options.via.empty() && !OneAgent(options.via, &via)) {
    std::fprintf(stderr, "pwrctl: --via %s: not a host or HOST:PORT\n", options.via.c_str());
    return kUsage;
  }
  uint32_t to = 0xFFFFFFFFu;
  if (!options.to.empty() && !ParseIpv4(options.to, &to)) {
    std::fprintf(stderr, "pwrctl: --to %s: not an IPv4 address\n", options.to.c_str());
    return kUsage;
  }
  // The agents' port: a row's own, else the services entry, as for scan.
  uint16_t entry = 0;
  const bool asks = options.relay || !options.via.empty() || options.wait_s > 0;
  if (platform::LookupServicePort("QX_WOL_AGT", "tcp", &entry)) entry = PortToHost(entry);
  const auto lacks_port = [](const TargetHost& h) { return h.port == 0; };
  if (asks && entry == 0 &&
      (std::any_of(agents.begin(), agents.end(), lacks_port) || (options.via.size() && !via.port) ||
       std::any_of(targets.begin(), targets.end(),
                   [](const WakeTarget& t) { return t.has_address && t.host.port == 0; }))) {
    std::fprintf(stderr,
                 "pwrctl: no services entry QX_WOL_AGT/tcp; give each row and --via its :PORT\n");
    return kNoAddress;
  }
  SetDefaultPort(&agents, entry);
  if (via.port == 0) via.port = entry;
  for (WakeTarget& t : targets) {
    if (t.has_address && t.host.port == 0) t.host.port = entry;
    if (!options.via.empty()) {
      t.relays = {via};
    } else if (options.relay && !t.has_address) {
      t.sent = "no address to choose a relay";
      std::fprintf(stderr, "pwrctl: %s: the table gives no address, so --relay cannot serve it\n",
                   FormatMac(t.mac).c_str());
    } else if (options.relay && !OnOwnNetwork(t.host.address, options.prefix)) {
      t.relays = RelayCandidates(agents, t.host.address, options.prefix);
      t.network = NetworkText(t.host.address, options.prefix);
      if (t.relays.empty()) t.sent = "no relay in " + t.network;
    }
    if (options.wait_s > 0 && !t.has_address) {
      std::fprintf(stderr, "pwrctl: %s: no address to ask, so --wait cannot tell when it is up\n",
                   FormatMac(t.mac).c_str());
    }
  }
  WakeSettings settings;
  // The discard port, by custom, unless -p names another.
  settings.broadcast = {HostToNetwork(to), PortToNetwork(options.port ? options.port : kWakePort)};
  settings.count = options.count;
  settings.timeout_ms = options.timeout_ms;
  settings.connections = options.connections;
  settings.wait_s = options.wait_s;
  settings.progress = options.wait_s > 0 && isatty(2);
  settings.key = key;
  const int rc = RunWake(&targets, settings);
  std::fputs(FormatWakeTable(targets, options.format, entry).c_str(), stdout);
  return rc == 0 ? kOk : kAnsweredNo;
}

// Off of a single HOST[:PORT] keeps its own messages and exit codes.
bool IsOneHost(const std::string& target) {
  if (target[0] == '@' || target.find('/') != std::string::npos) return false;
  const size_t dash = target.find('-');
  return dash == std::string::npos ||
         target.substr(0, dash).find_first_not_of("0123456789.") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int i = 1;
  if (i < argc && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return kOk;
  }
  if (i < argc && std::strcmp(argv[i], "--version") == 0) {
    std::puts("pwrctl " ORVEL_VERSION);
    return kOk;
  }
  if (i + 1 < argc && std::strcmp(argv[i], "-t") == 0) {
    if (!ParseSeconds(argv[i + 1], &options.timeout_ms)) return Usage();
    i += 2;
  }
  if (i >= argc) return Usage();
  const std::string verb = argv[i];
  std::vector<std::string> args;
  for (int a = i + 1; a < argc; ++a) {
    const std::string arg = argv[a];
    const bool has_value = a + 1 < argc;
    if ((arg == "-p" || arg == "--port") && has_value) {
      if (!ParsePort(argv[++a], &options.port)) {
        std::fprintf(stderr, "pwrctl: %s: not a port number\n", argv[a]);
        return kUsage;
      }
    } else if (arg == "-t" && has_value) {
      if (!ParseSeconds(argv[++a], &options.timeout_ms)) return Usage();
    } else if (arg == "-j" && has_value) {
      char* end = nullptr;
      const long n = std::strtol(argv[++a], &end, 10);
      if (*end != '\0' || n < 1 || n > 1024) {
        std::fprintf(stderr, "pwrctl: -j %s: give 1 to 1024 connections\n", argv[a]);
        return kUsage;
      }
      options.connections = static_cast<int>(n);
    } else if (arg == "--to" && has_value) {
      options.to = argv[++a];
    } else if (arg == "-n" && has_value) {
      long n = 0;
      if (!ParseCount(argv[++a], 1, 100, &n)) {
        std::fprintf(stderr, "pwrctl: -n %s: give 1 to 100 packets\n", argv[a]);
        return kUsage;
      }
      options.count = static_cast<int>(n);
    } else if (arg == "--relay") {
      options.relay = true;
    } else if (arg == "--via" && has_value) {
      options.via = argv[++a];
    } else if (arg == "--prefix" && has_value) {
      long n = 0;
      if (!ParseCount(argv[++a], 1, 30, &n)) {
        std::fprintf(stderr, "pwrctl: --prefix %s: give 1 to 30 bits\n", argv[a]);
        return kUsage;
      }
      options.prefix = static_cast<int>(n);
    } else if (arg == "--wait" || arg.rfind("--wait=", 0) == 0) {
      long n = 180;
      if (arg != "--wait" && !ParseCount(arg.c_str() + 7, 1, 86400, &n)) {
        std::fprintf(stderr, "pwrctl: %s: give the seconds to wait, 1 to 86400\n", arg.c_str());
        return kUsage;
      }
      options.wait_s = static_cast<uint32_t>(n);
    } else if (arg == "--csv") {
      options.format = TableFormat::kCsv;
    } else if (arg == "--json") {
      options.format = TableFormat::kJson;
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--key" && has_value && (verb == "off" || verb == "wake")) {
      options.key = argv[++a];
      continue;  // a single host keeps its own messages with a key too
    } else if (arg.empty() || (arg[0] == '-' && arg.size() > 1 && verb != "send")) {
      return Usage();  // an unknown option, or one without its value
    } else {
      args.push_back(arg);
      continue;
    }
    options.any = true;
  }
  if (platform::SocketsStartup() != 0) {
    std::fprintf(stderr, "pwrctl: cannot start Windows Sockets\n");
    return kSocketError;
  }
  const size_t rest = args.size();
  // The key is read before anything is sent: a bad file stops everything.
  const char* env_key = std::getenv("PWRCTL_KEY");
  const bool signs = verb == "off" || verb == "wake";
  if (signs && options.key.empty() && env_key && *env_key) options.key = env_key;
  ManagerKeyPair key_pair{};
  const ManagerKeyPair* key = nullptr;
  if (signs && !options.key.empty() && rest > 0) {
    if (!LoadKeyFile(options.key, &key_pair)) {
      platform::SocketsCleanup();
      return kUsage;
    }
    key = &key_pair;
  }
  int rc;
  if (verb == "mac" && rest == 1 && !options.any) {
    rc = Command(args[0].c_str(), CMD_MAC, options.timeout_ms, nullptr);
  } else if (verb == "off" && rest == 1 && !options.any && IsOneHost(args[0])) {
    rc = Command(args[0].c_str(), CMD_OFF, options.timeout_ms, key);
  } else if (verb == "send" && rest == 2 && !options.any) {
    rc = SendRaw(args[0].c_str(), args[1].c_str(), options.timeout_ms);
  } else if (verb == "scan" && rest > 0) {
    rc = AskMany(args, CMD_MAC, options, nullptr);
  } else if (verb == "off" && rest > 0) {
    rc = AskMany(args, CMD_OFF, options, key);
  } else if (verb == "wake" && rest > 0) {
    rc = Wake(args, options, key);
  } else if (verb == "keygen" && rest == 1 && !options.any) {
    rc = Keygen(args[0]) ? kOk : kUsage;
  } else if (verb == "pubkey" && rest == 1 && !options.any) {
    rc = PrintPublicKey(args[0]) ? kOk : kUsage;
  } else {
    rc = Usage();
  }
  std::fflush(stdout);
  platform::SocketsCleanup();
  return rc;
}
