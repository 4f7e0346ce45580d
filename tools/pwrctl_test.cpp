// pwrctl against scripted peers on loopback: what it prints and the exit code
// that scripts rely on, for each way an agent can answer or fail to.
#include <arpa/inet.h>
#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/protocol.h"
#include "platform/socket.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Outcome {
  int exit_code;
  std::string out;
};

Outcome RunPwrctl(const std::string& args, const std::string& env = "") {
  const std::string command = env + " " PWRCTL_PATH " " + args + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  Outcome o{-1, ""};
  if (!p) return o;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  const int status = pclose(p);
  o.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

// Accepts one connection, reads one request, then answers with `reply`
// (nothing when empty) and closes, or holds the connection for hold_ms.
class Peer {
 public:
  Peer(Bytes reply, int hold_ms = 0) : listener_(platform::Socket::Create()) {
    platform::Ipv4Address a{htonl(INADDR_LOOPBACK), 0};
    listener_.Bind(a);
    listener_.Listen(1);
    listener_.LocalAddress(&a);
    port_ = ntohs(a.port);
    thread_ = std::thread([this, reply, hold_ms] {
      platform::Ipv4Address peer;
      platform::Socket c = listener_.Accept(&peer);
      uint8_t buf[64];
      received_ = c.Recv(buf, sizeof buf);
      if (received_ > 0) request_.assign(buf, buf + received_);
      if (!reply.empty()) c.Send(reply.data(), static_cast<int>(reply.size()));
      if (hold_ms) std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
    });
  }
  ~Peer() { thread_.join(); }
  std::string target() const { return "127.0.0.1:" + std::to_string(port_); }
  const Bytes& request() {
    thread_.join();
    thread_ = std::thread([] {});
    return request_;
  }

 private:
  platform::Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  int received_ = 0;
  Bytes request_;
};

Bytes Built(uint32_t (*build)(uint8_t (&)[AGENT_BLOCK_SIZE])) {
  uint8_t area[AGENT_BLOCK_SIZE];
  const uint32_t n = build(area);
  return Bytes(area, area + n);
}

uint32_t KnownMac(uint8_t (&area)[AGENT_BLOCK_SIZE]) {
  const uint8_t mac[6] = {0x00, 0x11, 0x22, 0xAB, 0xCD, 0xEF};
  return BuildMacResponse(area, mac);
}
uint32_t NoMac(uint8_t (&area)[AGENT_BLOCK_SIZE]) { return BuildMacResponse(area, nullptr); }

TEST(Pwrctl, AnswersOfAnAgent) {
  {
    Peer peer(Built(KnownMac));
    const Outcome o = RunPwrctl("mac " + peer.target());
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(o.out, "00-11-22-AB-CD-EF\n");
    uint8_t request[AGENT_BLOCK_SIZE];
    BuildRequest(request, CMD_MAC);
    EXPECT_EQ(peer.request(), Bytes(request, request + 40));
  }
  {
    Peer peer(Built(NoMac));
    EXPECT_EQ(RunPwrctl("mac " + peer.target()).exit_code, 1);
  }
  {
    Peer peer(Built(BuildOffResponse));
    const Outcome o = RunPwrctl("off " + peer.target());
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(o.out, "OFF acknowledged (code 0x80000001, status 0)\n");
    EXPECT_EQ(peer.request()[16], CMD_OFF);
  }
  {
    // An OFF answered with the unknown-command response is no acknowledgement.
    Peer peer(Built(BuildUnknownCommandResponse));
    EXPECT_EQ(RunPwrctl("off " + peer.target()).exit_code, 1);
  }
  {
    Peer peer(Built(BuildUnknownCommandResponse), 1000);
    const Outcome o = RunPwrctl("send " + peer.target() + " '51 58 2f 57 4f 4c 20 00 03'");
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(peer.request(), (Bytes{0x51, 0x58, 0x2f, 0x57, 0x4f, 0x4c, 0x20, 0x00, 0x03}));
    EXPECT_EQ(o.out.substr(0, 36), "51 58 2f 57 4f 4c 20 00 01 00 00 00 ");
    EXPECT_NE(o.out.find("\ncode 0x00000000, status 1, data length 0\n"), std::string::npos);
  }
}

TEST(Pwrctl, FailuresHaveTheirOwnExitCodes) {
  {
    Peer peer({});  // reads, then closes
    EXPECT_EQ(RunPwrctl("mac " + peer.target()).exit_code, 5);
  }
  {
    Peer peer({}, 1500);  // reads and says nothing
    EXPECT_EQ(RunPwrctl("-t 0.5 mac " + peer.target()).exit_code, 6);
  }
  {
    const std::string http = "HTTP/1.0 400 Bad Request\r\n\r\n";
    Peer peer(Bytes(http.begin(), http.end()));
    EXPECT_EQ(RunPwrctl("mac " + peer.target()).exit_code, 7);
  }
  {
    Bytes half = Built(KnownMac);
    half.resize(43);  // closed in the middle of a reply
    Peer peer(half);
    EXPECT_EQ(RunPwrctl("mac " + peer.target()).exit_code, 7);
  }
  uint16_t closed_port;
  {
    platform::Socket s = platform::Socket::Create();
    platform::Ipv4Address a{htonl(INADDR_LOOPBACK), 0};
    ASSERT_TRUE(s.Bind(a) && s.LocalAddress(&a));
    closed_port = ntohs(a.port);  // bound, not listening: refused
    EXPECT_EQ(RunPwrctl("mac 127.0.0.1:" + std::to_string(closed_port)).exit_code, 4);
  }
  const std::string empty = ::testing::TempDir() + "pwrctl_services";
  std::ofstream(empty) << "# no QX_WOL_AGT here\n";
  EXPECT_EQ(RunPwrctl("mac 127.0.0.1", "ORVEL_SERVICES_FILE=" + empty).exit_code, 3);
  EXPECT_EQ(RunPwrctl("mac").exit_code, 2);
  EXPECT_EQ(RunPwrctl("send 127.0.0.1:1 5").exit_code, 2);
  EXPECT_EQ(RunPwrctl("mac 127.0.0.1:70000").exit_code, 2);
  const Outcome help = RunPwrctl("--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("  5  connection closed without a reply\n"), std::string::npos);
}

}  // namespace
