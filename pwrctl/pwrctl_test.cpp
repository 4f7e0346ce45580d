// pwrctl against scripted peers on loopback: what it prints and the exit code
// that scripts rely on, for each way an agent can answer or fail to.
#include <arpa/inet.h>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "agent/protocol.h"
#include "platform/socket.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Area = uint8_t[AGENT_BLOCK_SIZE];
const uint8_t kMac[6] = {0x00, 0x11, 0x22, 0xAB, 0xCD, 0xEF};

// The bytes that build puts into its area, as many as it returns.
Bytes Built(uint32_t (*build)(Area&)) {
  Area area;
  return Bytes(area, area + build(area));
}

// pwrctl started, then its stdout and exit code (124: it hung and was ended).
FILE* Start(const std::string& args, const std::string& in = "") {
  return popen((in + " timeout 30 " PWRCTL_PATH " " + args + " 2>/dev/null").c_str(), "r");
}

std::string Finish(FILE* p, int* exit_code) {
  std::string out;
  char buf[512];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// Agents on 127.0.0.2 and 127.0.0.3 on one port, PORT in args; nothing
// listens on 127.0.0.1. Each agent a case serves (1: the first, 2: the second, 3:
// both) accepts one connection, reads one request and answers its reply
// (nothing when empty), then closes or, with `hold`, waits (10 s at most) for
// pwrctl to close first; meanwhile pwrctl's other connections wait in the
// backlogs. The agents not served get no connection. A saved table is also a
// wake list: one magic packet, for the host that answered with its MAC,
// broadcast to the port given, where a receiver bound to any address gets it
// as a powered-off PC's network card would.
TEST(Pwrctl, AnswersAndFailuresHaveTheirOwnOutputAndExitCodes) {
  const Bytes known = Built([](Area& a) { return BuildMacResponse(a, kMac); });
  const Bytes no_mac = Built([](Area& a) { return BuildMacResponse(a, nullptr); });
  const Bytes acked = Built(BuildOffResponse);
  const Bytes unknown = Built(BuildUnknownCommandResponse);
  const Bytes mac = Built([](Area& a) { return BuildRequest(a, CMD_MAC); });
  const Bytes off = Built([](Area& a) { return BuildRequest(a, CMD_OFF); });
  std::string unknown_hex = "51 58 2f 57 4f 4c 20 00 01 00 00 00 28 00 00 00 00 00 00 00 01";
  for (int i = 0; i < 19; ++i) unknown_hex += " 00";
  const std::string no_entry = ::testing::TempDir() + "pwrctl_services";
  std::ofstream(no_entry) << "# no QX_WOL_AGT here\n";
  setenv("ORVEL_SERVICES_FILE", no_entry.c_str(), 1);
  platform::Socket agents[2] = {platform::Socket::Create(), platform::Socket::Create()};
  platform::Ipv4Address a{htonl(0x7F000002), 0};
  ASSERT_TRUE(agents[0].Bind(a) && agents[0].LocalAddress(&a) && agents[0].Listen(8));
  a.address = htonl(0x7F000003);
  ASSERT_TRUE(agents[1].Bind(a) && agents[1].Listen(8));
  const std::string port = std::to_string(ntohs(a.port)), one = "127.0.0.2:PORT";
  const int udp = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  socklen_t len = sizeof sa;
  ASSERT_TRUE(udp >= 0 && bind(udp, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
              getsockname(udp, reinterpret_cast<sockaddr*>(&sa), &len) == 0);
  const std::string udp_port = std::to_string(ntohs(sa.sin_port)),
                    wake = "wake --to 127.255.255.255 -p " + udp_port,
                    table = ::testing::TempDir() + "pwrctl_table";
  std::ofstream(table) << "127.0.0.1        refused\n127.0.0.2        00-11-22-AB-CD-EF  signed\n";
  std::ofstream(table + "2") << "127.0.0.9:1      00-11-22-AB-CD-EF\n127.0.1.1:1\n";
  // A namespace of its own where 10.77.0.2 drops every SYN: its frames leave
  // a veth for a peer without that address (as root only; else those rows are skipped).
  const std::string ns = "orvel-syn-" + std::to_string(getpid()), in_ns = "ip netns exec " + ns;
  const bool have_ns = std::system(("sh -c 'ip netns add $0 2>/dev/null && ip -n $0 link add v0 "
      "type veth peer name v1 && ip -n $0 addr add 10.77.0.1/24 dev v0 && ip -n $0 link set v0 up "
      "&& ip -n $0 neigh add 10.77.0.2 lladdr 02:00:5e:00:00:07 dev v0 nud permanent' " + ns)
      .c_str()) == 0;
  // request: what each agent served received; out: the whole output, or a
  // part of it with `part`; in: the namespace pwrctl runs in.
  const struct {
    std::string args; int served; Bytes replies[2]; Bytes request; int exit_code;
    std::string out = ""; bool hold = false, part = false; std::string in = "";
  } cases[] = {
      {"mac " + one, 1, {known}, mac, 0, "00-11-22-AB-CD-EF\n"},
      {"mac " + one, 1, {no_mac}, mac, 1,
       "no MAC address known for the address this connection arrived on (status 2)\n"},
      {"off " + one, 1, {acked}, off, 0, "OFF acknowledged (code 0x80000001, status 0)\n"},
      {"off " + one, 1, {Built([](Area& a) { return BuildOffResponse(a) + 8; })}, off, 0,
       "OFF acknowledged (code 0x80000001, status 0)\n"},
      // An unknown-command answer is no acknowledgement, nor is a MAC answer.
      {"off " + one, 1, {unknown}, off, 1, "unexpected answer: code 0x00000000, status 1\n"},
      {"off " + one, 1, {known}, off, 1, "unexpected answer: code 0x80000002, status 0\n"},
      // The agent keeps the connection open after its answer.
      {"send " + one + " '51 58 2f 57 4f 4c 20 00 03'", 1, {unknown},
       {0x51, 0x58, 0x2f, 0x57, 0x4f, 0x4c, 0x20, 0x00, 0x03}, 0,
       unknown_hex + "\ncode 0x00000000, status 1, data length 0\n", true},
      {"mac " + one, 1, {}, mac, 5},                   // reads, then closes
      {"-t 0.5 mac " + one, 1, {}, mac, 6, "", true},  // reads and says nothing
      // A reply that stops short is awaited; a wrong one, an HTTP server's, ends at once.
      {"-t 0.5 mac " + one, 1, {Bytes(known.begin(), known.begin() + 40)}, mac, 6, "", true},
      {"-t 0.5 mac " + one, 1, {Bytes(known.begin(), known.begin() + 3)}, mac, 6, "", true},
      {"-t 5 mac " + one, 1, {{'H', 'T', 'T', 'P'}}, mac, 7, "", true},
      {"mac " + one, 1, {Bytes(known.begin(), known.begin() + 43)}, mac, 7},  // closed mid-reply
      // Head id, version, length and data length.
      {"off " + one, 1, {Built([](Area& a) { BuildOffResponse(a); a[7] = 'X'; return 40u; })}, off, 7},
      {"off " + one, 1, {Built([](Area& a) { BuildOffResponse(a); a[8] = 2; return 40u; })}, off, 7},
      {"off " + one, 1, {Built([](Area& a) { BuildOffResponse(a); a[12] = 46; return 46u; })}, off, 7},
      {"off " + one, 1,
       {Built([](Area& a) { BuildOffResponse(a); a[12] = 45; a[32] = 5; return 45u; })}, off, 7},
      // -t bounds the connect too (the timeout wrapper would end it with 124).
      {"-t 1 mac 10.77.0.2:1", 0, {}, {}, 6, "", false, false, in_ns},
      {"-t 1 send 10.77.0.2:1 00", 0, {}, {}, 6, "", false, false, in_ns},
      {"mac 127.0.0.1:PORT", 0, {}, {}, 4}, {"mac", 0, {}, {}, 2}, {"send 127.0.0.1:1 5", 0, {}, {}, 2},
      {"mac 127.0.0.1:70000", 0, {}, {}, 2}, {"mac 127.0.0.1", 0, {}, {}, 3},  // no services entry
      {"--help", 0, {}, {}, 0, "  5  connection closed without a reply\n", false, true},
      // Several hosts: a table in address order.
      {"scan -p PORT 127.0.0.1-127.0.0.3 127.0.0.2", 3, {known, no_mac}, mac, 1,
       "127.0.0.1        refused\n127.0.0.2        00-11-22-AB-CD-EF\n"
       "127.0.0.3        no MAC known\n"},
      {"scan --csv -j 1 -p PORT 127.0.0.2/32", 1, {known}, mac, 0,
       "address,mac,outcome,signed\n127.0.0.2,00-11-22-AB-CD-EF,answered,\n"},
      {"scan --json -p PORT 127.0.0.3", 2, {{}, no_mac}, mac, 1,
       "[\n {\"address\": \"127.0.0.3\", \"mac\": null, \"outcome\": \"no MAC known\", \"signed\": null}\n]\n"},
      {"off -p PORT 127.0.0.2 127.0.0.3", 0, {}, {}, 2},  // no --yes: nothing sent
      {"off --yes -p PORT 127.0.0.3 127.0.0.2", 3, {acked, no_mac}, off, 1,
       "127.0.0.2        acknowledged, unsigned\n127.0.0.3        unexpected answer\n"},
      {"scan -p PORT 127.0.0.0/15", 0, {}, {}, 2},
      // A target's own port wins over -p and needs no services entry; a table
      // shows it where it is not the port of -p.
      {"scan -p 1 127.0.0.2:PORT", 1, {known}, mac, 0,
       "127.0.0.2:" + port + "  00-11-22-AB-CD-EF\n"},
      {"scan --csv 127.0.0.3:PORT", 2, {{}, no_mac}, mac, 1,
       "address,mac,outcome,signed\n127.0.0.3:" + port + ",,no MAC known,\n"},
      {"off --yes --json -p PORT 127.0.0.3 127.0.0.2:1", 2, {{}, acked}, off, 1,
       "[\n {\"address\": \"127.0.0.2:1\", \"mac\": null, \"outcome\": \"refused\", \"signed\": null},\n"
       " {\"address\": \"127.0.0.3\", \"mac\": null, \"outcome\": \"acknowledged, unsigned\", \"signed\": false}\n]\n"},
      {"scan -p PORT 127.0.0.2:0", 0, {}, {}, 2},
      {"off --yes -p PORT 127.0.0.2:65536 127.0.0.3", 0, {}, {}, 2},
      {wake + " @" + table, 0, {}, {}, 0, "00-11-22-AB-CD-EF  127.0.0.2        broadcast\n"},
      // A relay named by hand gets the 48-byte WAKE RELAY; one packet from here.
      {wake + " -n 1 --csv --via 127.0.0.2:PORT 001122abcdef", 1,
       {Built([](Area& a) { return BuildStatusResponse(a, RSP_WAKE_RELAY, 0); })},
       Built([](Area& a) { return BuildWakeRelayRequest(a, kMac); }), 0,
       "mac,address,sent,outcome\n00-11-22-AB-CD-EF,,via 127.0.0.2,\n"},
      {wake + " -n 1 --via 127.0.0.2:PORT 001122abcdef", 1, {{'H', 'T', 'T', 'P'}},
       Built([](Area& a) { return BuildWakeRelayRequest(a, kMac); }), 1,
       "00-11-22-AB-CD-EF  -                relay failed: 127.0.0.2 not an agent\n"},
      // No address to ask or to choose a relay by; no other row in the PC's network.
      {wake + " --wait=1 --json 001122abcdef", 0, {}, {}, 1,
       "[\n {\"mac\": \"00-11-22-AB-CD-EF\", \"address\": null, \"sent\": \"broadcast\", "
       "\"outcome\": \"no address to ask\"}\n]\n"},
      {wake + " --relay 001122abcdef", 0, {}, {}, 2},
      {wake + " --relay --prefix 30 @" + table + "2", 0, {}, {}, 1,
       "00-11-22-AB-CD-EF  127.0.0.9:1      no relay in 127.0.0.8/30\n"},
      {wake + " 00:11:22:ab:cd:ef 00-11-22", 0, {}, {}, 2},  // none sent
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    if (!c.in.empty() && !have_ns) continue;
    std::string args = c.args;
    if (args.find("PORT") != std::string::npos) args.replace(args.find("PORT"), 4, port);
    FILE* p = Start(args, c.in);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 2; ++i) {
      if (!(c.served & (1 << i)) || agents[i].WaitReadable(10000) != 1) continue;
      platform::Socket s = agents[i].Accept(&a);
      char buf[64];
      const int n = s.WaitReadable(10000) == 1 ? s.Recv(buf, sizeof buf) : 0;
      EXPECT_EQ(Bytes(buf, buf + (n > 0 ? n : 0)), c.request);
      s.Send(c.replies[i].data(), static_cast<int>(c.replies[i].size()));
      EXPECT_EQ(c.hold && s.WaitReadable(10000) == 1 && s.Recv(buf, sizeof buf) == 0, c.hold)
          << "the connection held open";
    }
    int exit_code = -1;
    const std::string out = Finish(p, &exit_code);
    EXPECT_EQ(exit_code, c.exit_code);
    EXPECT_TRUE(c.part ? out.find(c.out) != std::string::npos : out == c.out) << out;
    for (auto& agent : agents) EXPECT_EQ(agent.WaitReadable(0), 0) << "an unexpected connection";
  }
  unsetenv("ORVEL_SERVICES_FILE");
  const int deleted = std::system(("ip netns del " + ns + " 2>/dev/null").c_str());
  EXPECT_TRUE(deleted == 0 || !have_ns);
  Bytes expected(6, 0xFF);
  for (int i = 0; i < 16; ++i) expected.insert(expected.end(), kMac, kMac + 6);
  uint8_t buf[200];
  pollfd pf{udp, POLLIN, 0};
  for (int i = 0; i < 3 + 1 + 1 + 3 + 3; ++i) {  // -n 3 by default, -n 1 with --via
    ASSERT_EQ(poll(&pf, 1, 10000), 1);
    const ssize_t n = recv(udp, buf, sizeof buf, 0);
    EXPECT_EQ(Bytes(buf, buf + (n > 0 ? n : 0)), expected);
  }
  EXPECT_EQ(poll(&pf, 1, 0), 0) << "one datagram too many";
  close(udp);
}

}  // namespace
