// pwrctl against scripted peers on loopback: what it prints and the exit code
// that scripts rely on, for each way an agent can answer or fail to.
#include <arpa/inet.h>
#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "agent/protocol.h"
#include "platform/socket.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Area = uint8_t[AGENT_BLOCK_SIZE];

struct Outcome { int exit_code; std::string out; Bytes request; bool closed_by_pwrctl; };

// Runs pwrctl. In args "@" stands for a peer on loopback that accepts one
// connection, reads one request and answers `reply` (nothing when empty), then
// closes or, with `hold`, waits (10 s at most) for pwrctl to close first; "#"
// for a port that is bound but not listening.
Outcome RunPwrctl(std::string args, const Bytes& reply = {}, bool hold = false,
                  const std::string& env = "") {
  platform::Socket listener = platform::Socket::Create();
  platform::Ipv4Address a{htonl(INADDR_LOOPBACK), 0};
  const size_t at = args.find_first_of("@#");
  const bool peer = at != std::string::npos && args[at] == '@';
  if (at != std::string::npos) {
    listener.Bind(a);
    if (peer) listener.Listen(1);
    listener.LocalAddress(&a);
    args.replace(at, 1, "127.0.0.1:" + std::to_string(ntohs(a.port)));
  }
  Outcome o{-1, "", {}, false};
  // A pwrctl that hangs is ended (exit code 124) rather than hang the test.
  const std::string command = "timeout 30 env " + env + " " PWRCTL_PATH " " + args + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return o;
  char buf[512];
  if (peer && listener.WaitReadable(10000) == 1) {
    platform::Socket c = listener.Accept(&a);
    const int n = c.WaitReadable(10000) == 1 ? c.Recv(buf, 64) : 0;
    if (n > 0) o.request.assign(buf, buf + n);
    if (!reply.empty()) c.Send(reply.data(), static_cast<int>(reply.size()));
    o.closed_by_pwrctl = hold && c.WaitReadable(10000) == 1 && c.Recv(buf, sizeof buf) == 0;
  }
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) o.out.append(buf, n);
  const int status = pclose(p);
  o.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

Bytes Built(uint32_t (*build)(Area&)) {
  Area area;
  return Bytes(area, area + build(area));
}

TEST(Pwrctl, AnswersAndFailuresHaveTheirOwnExitCodes) {
  const Bytes known = Built([](Area& a) {
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0xAB, 0xCD, 0xEF};
    return BuildMacResponse(a, mac);
  });
  const Bytes unknown = Built(BuildUnknownCommandResponse);
  const Bytes mac = Built([](Area& a) { return BuildRequest(a, CMD_MAC); });
  const Bytes off = Built([](Area& a) { return BuildRequest(a, CMD_OFF); });
  const std::string http = "HTTP/1.0 400 Bad Request\r\n\r\n";
  std::string unknown_hex = "51 58 2f 57 4f 4c 20 00 01 00 00 00 28 00 00 00 00 00 00 00 01";
  for (int i = 0; i < 19; ++i) unknown_hex += " 00";
  const struct {
    std::string args;
    Bytes reply;
    bool hold;
    int exit_code;
    std::string out;  // a part of the output
    Bytes request;    // what the peer received
  } cases[] = {
      {"mac @", known, false, 0, "00-11-22-AB-CD-EF\n", mac},
      {"mac @", Built([](Area& a) { return BuildMacResponse(a, nullptr); }), false, 1, "", mac},
      {"off @", Built(BuildOffResponse), false, 0, "OFF acknowledged (code 0x80000001, status 0)\n",
       off},
      {"off @", unknown, false, 1, "", off},  // an unknown-command answer is no acknowledgement
      {"off @", known, false, 1, "", off},    // nor is a MAC answer
      // The agent keeps the connection open after its answer.
      {"send @ '51 58 2f 57 4f 4c 20 00 03'", unknown, true, 0,
       unknown_hex + "\ncode 0x00000000, status 1, data length 0\n",
       {0x51, 0x58, 0x2f, 0x57, 0x4f, 0x4c, 0x20, 0x00, 0x03}},
      {"mac @", {}, false, 5, "", mac},        // reads, then closes
      {"-t 0.5 mac @", {}, true, 6, "", mac},  // reads and says nothing
      {"mac @", Bytes(http.begin(), http.end()), false, 7, "", mac},
      {"mac @", Bytes(known.begin(), known.begin() + 43), false, 7, "", mac},  // closed mid-reply
      {"mac #", {}, false, 4, "", {}},
      {"mac", {}, false, 2, "", {}},
      {"send 127.0.0.1:1 5", {}, false, 2, "", {}},
      {"mac 127.0.0.1:70000", {}, false, 2, "", {}},
      {"--help", {}, false, 0, "  5  connection closed without a reply\n", {}},
  };
  for (const auto& c : cases) {
    const Outcome o = RunPwrctl(c.args, c.reply, c.hold);
    EXPECT_EQ(o.exit_code, c.exit_code) << c.args;
    EXPECT_NE(o.out.find(c.out), std::string::npos) << c.args << ": " << o.out;
    EXPECT_EQ(o.request, c.request) << c.args;
    EXPECT_EQ(o.closed_by_pwrctl, c.hold) << c.args << ": the connection held open";
  }
  const std::string no_entry = ::testing::TempDir() + "pwrctl_services";
  std::ofstream(no_entry) << "# no QX_WOL_AGT here\n";
  EXPECT_EQ(RunPwrctl("mac 127.0.0.1", {}, false, "ORVEL_SERVICES_FILE=" + no_entry).exit_code, 3);
}

}  // namespace
