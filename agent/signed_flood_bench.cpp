// signed_flood_bench HOST:PORT [N] [--pid PID]: what a flood of N (1,000 by
// default) bad signed requests costs an agent with a ManagerKey, and whether
// the MAC answers of another connection slow down meanwhile. 50 connections
// at a time each ask for a challenge, send a SIGNED POWER-OFF whose signature
// verifies under no key (a full verification each), and await the refusal
// (status 3) and the close. The baseline, run first: as many connections
// that only ask for a challenge and close, so that the difference is what the
// signed request itself costs. One more connection times MAC round trips
// before and during each flood. With --pid, the agent's CPU time (Linux /proc).
// Loopback only; every wait has a deadline.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "agent/protocol.h"
#include "platform/socket.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kConnections = 50;
constexpr uint32_t kStepMs = 10000;
constexpr int kIdleRoundTrips = 2000;

// Reads exactly size bytes within the step limit.
bool ReadAll(platform::Socket& s, uint8_t* out, int size) {
  for (int got = 0; got < size;) {
    if (s.WaitReadable(kStepMs) != 1) return false;
    const int n = s.Recv(out + got, size - got);
    if (n <= 0) return false;
    got += n;
  }
  return true;
}

// One bad signed request on its own connection: true when it was refused
// with status 3 and the connection closed. signed_request false: the
// challenge only, then the close (the baseline).
bool BadSignedOff(const platform::Ipv4Address& agent, bool signed_request) {
  platform::Socket s = platform::Socket::Create();
  if (!s.valid() || !s.ConnectWithin(agent, kStepMs)) return false;
  uint8_t challenge[AGENT_BLOCK_SIZE];
  BuildRequest(challenge, CMD_CHALLENGE);
  uint8_t reply[AGENT_CHALLENGE_MESSAGE_SIZE];
  if (s.Send(challenge, AGENT_MESSAGE_SIZE) != AGENT_MESSAGE_SIZE ||
      !ReadAll(s, reply, sizeof reply) || GetLe32(reply + OFS_CODE) != RSP_CHALLENGE) {
    return false;
  }
  if (!signed_request) return true;
  uint8_t head[AGENT_BLOCK_SIZE];
  const uint8_t action[AGENT_BLOCK_SIZE - AGENT_MESSAGE_SIZE] = {ACTION_POWER_OFF};
  BuildSignedHead(head, CMD_SIGNED_OFF, action);
  uint8_t request[AGENT_SIGNED_MESSAGE_SIZE];
  std::memcpy(request, head, sizeof head);
  // r and s below the group order: the agent must compute the verification.
  std::memset(request + OFS_SIGNATURE, 0x5A, AGENT_SIGNED_MESSAGE_SIZE - OFS_SIGNATURE);
  uint8_t refusal[AGENT_MESSAGE_SIZE], extra;
  return s.Send(request, sizeof request) == static_cast<int>(sizeof request) &&
         ReadAll(s, refusal, sizeof refusal) && GetLe32(refusal + OFS_STATUS) == ST_REFUSED &&
         s.WaitReadable(kStepMs) == 1 && s.Recv(&extra, 1) == 0;
}

// One MAC round trip in milliseconds; negative on a failure.
double MacRoundTrip(platform::Socket& s) {
  uint8_t request[AGENT_BLOCK_SIZE], reply[AGENT_MAC_MESSAGE_SIZE];
  BuildRequest(request, CMD_MAC);
  const auto start = Clock::now();
  if (s.Send(request, AGENT_MESSAGE_SIZE) != AGENT_MESSAGE_SIZE ||
      !ReadAll(s, reply, AGENT_MESSAGE_SIZE)) {
    return -1;
  }
  // A 46-byte answer carries six more bytes.
  if (GetLe32(reply + OFS_LENGTH) == AGENT_MAC_MESSAGE_SIZE && !ReadAll(s, reply + 40, 6)) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

// The process's user and system time in milliseconds; -1 when unknown.
double CpuMs(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (pid <= 0 || close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
  platform::Ipv4Address agent{0, 0};
  unsigned a, b, c, d, port;
  long pid = 0;
  int total = 1000;
  if (argc < 2 || std::sscanf(argv[1], "%u.%u.%u.%u:%u", &a, &b, &c, &d, &port) != 5 || a != 127 ||
      port == 0 || port > 65535) {
    std::fprintf(stderr, "usage: signed_flood_bench 127.X.Y.Z:PORT [N] [--pid PID]\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pid") == 0 && i + 1 < argc) {
      pid = std::atol(argv[++i]);
    } else {
      total = std::max(1, std::atoi(argv[i]));
    }
  }
  const uint8_t address[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                              static_cast<uint8_t>(c), static_cast<uint8_t>(d)};
  const uint8_t port_bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
  std::memcpy(&agent.address, address, 4);
  std::memcpy(&agent.port, port_bytes, 2);
  platform::SocketsStartup();

  platform::Socket mac = platform::Socket::Create();
  if (!mac.valid() || !mac.ConnectWithin(agent, kStepMs)) {
    std::fprintf(stderr, "signed_flood_bench: cannot connect to the agent\n");
    return 1;
  }
  std::vector<double> idle;
  for (int i = 0; i < kIdleRoundTrips; ++i) idle.push_back(MacRoundTrip(mac));
  const auto failed = [](const std::vector<double>& v) {
    return std::count_if(v.begin(), v.end(), [](double x) { return x < 0; });
  };
  std::printf("MAC round trip of one connection, idle: median %.3f ms, 99th %.3f ms (%zu)\n",
              Quantile(idle, 0.5), Quantile(idle, 0.99), idle.size());
  bool all_ok = failed(idle) == 0;

  for (const bool signed_request : {false, true}) {
    std::atomic<int> next{0}, done{0};
    std::atomic<bool> flooding{true};
    std::vector<double> during;
    const double cpu_before = CpuMs(pid);
    const auto start = Clock::now();
    std::vector<std::thread> flood;
    for (int t = 0; t < kConnections; ++t) {
      flood.emplace_back([&] {
        while (next++ < total) done += BadSignedOff(agent, signed_request);
      });
    }
    std::thread timer([&] {
      while (flooding) during.push_back(MacRoundTrip(mac));
    });
    for (std::thread& t : flood) t.join();
    const double flood_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const double cpu_after = CpuMs(pid);
    flooding = false;
    timer.join();
    std::printf("%s: %d connections, %d as expected, in %.0f ms (%d at a time)",
                signed_request ? "bad signed requests (challenge, 112 bytes, refusal, close)"
                               : "baseline (challenge, close)",
                total, done.load(), flood_ms, kConnections);
    if (cpu_before >= 0 && cpu_after >= 0) {
      std::printf("; agent CPU %.0f ms, %.3f ms a connection", cpu_after - cpu_before,
                  (cpu_after - cpu_before) / total);
    }
    std::printf("\n  MAC round trip meanwhile: median %.3f ms, 99th %.3f ms (%zu, %ld failed)\n",
                Quantile(during, 0.5), Quantile(during, 0.99), during.size(),
                static_cast<long>(failed(during)));
    all_ok = all_ok && done == total && failed(during) == 0;
  }
  platform::SocketsCleanup();
  return all_ok ? 0 : 1;
}
