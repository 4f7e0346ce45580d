// agent_bench HOST:PORT: MAC round trips per second over one open connection
// and connect-to-first-reply latency of a running agent, each beside a
// baseline measured in the same run: a minimal blocking server on loopback
// that answers every 40-byte request with 40 bytes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agent/protocol.h"
#include "platform/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 3000;
constexpr int kConnections = 200;

uint16_t Be16(unsigned port) {
  uint16_t be;
  const uint8_t b[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
  std::memcpy(&be, b, 2);
  return be;
}

unsigned HostPort(uint16_t be) {
  uint8_t b[2];
  std::memcpy(b, &be, 2);
  return b[0] << 8 | b[1];
}

bool ReadExactly(platform::Socket& s, uint8_t* buf, int size) {
  for (int got = 0; got < size;) {
    const int n = s.Recv(buf + got, size - got);
    if (n <= 0) return false;
    got += n;
  }
  return true;
}

// One request, one 40-byte answer; false when the exchange failed.
bool Exchange(platform::Socket& s) {
  uint8_t area[AGENT_BLOCK_SIZE];
  const uint32_t size = BuildRequest(area, CMD_MAC);
  if (s.Send(area, static_cast<int>(size)) != static_cast<int>(size)) return false;
  return ReadExactly(s, area, static_cast<int>(AGENT_MESSAGE_SIZE));
}

struct Figures {
  double round_trips_per_s = 0;
  double median_ms = 0, p99_ms = 0;
  bool ok = false;
};

Figures Measure(const platform::Ipv4Address& target) {
  Figures f;
  {
    platform::Socket s = platform::Socket::Create();
    if (!s.Connect(target)) return f;
    const auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
      if (!Exchange(s)) return f;
    }
    f.round_trips_per_s = kRoundTrips / std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::vector<double> ms;
  for (int i = 0; i < kConnections; ++i) {
    const auto start = Clock::now();
    platform::Socket s = platform::Socket::Create();
    if (!s.Connect(target) || !Exchange(s)) return f;
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  f.median_ms = ms[ms.size() / 2];
  f.p99_ms = ms[(ms.size() * 99) / 100 - 1];
  f.ok = true;
  return f;
}

// The baseline: accept, then answer 40 bytes for every 40 received, one
// connection at a time.
class BaselineServer {
 public:
  bool Start() {
    listener_ = platform::Socket::Create();
    platform::Ipv4Address any{0, 0};
    std::memcpy(&any.address, "\x7f\x00\x00\x01", 4);
    if (!listener_.Bind(any) || !listener_.Listen(5) || !listener_.LocalAddress(&address_)) {
      return false;
    }
    thread_ = std::thread([this] { Serve(); });
    return true;
  }
  ~BaselineServer() {
    stop_ = true;
    {  // wakes the blocking accept
      platform::Socket s = platform::Socket::Create();
      s.Connect(address_);
    }
    if (thread_.joinable()) thread_.join();
  }
  const platform::Ipv4Address& address() const { return address_; }

 private:
  void Serve() {
    while (!stop_) {
      platform::Ipv4Address peer;
      platform::Socket c = listener_.Accept(&peer);
      if (!c.valid()) continue;
      uint8_t buf[AGENT_MESSAGE_SIZE];
      while (ReadExactly(c, buf, sizeof buf)) {
        if (c.Send(buf, sizeof buf) != static_cast<int>(sizeof buf)) break;
      }
    }
  }

  platform::Socket listener_;
  platform::Ipv4Address address_{0, 0};
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || !std::strchr(argv[1], ':')) {
    std::fprintf(stderr, "usage: agent_bench HOST:PORT   (a running agent)\n");
    return 2;
  }
  std::string host = argv[1];
  const unsigned port = static_cast<unsigned>(std::atoi(host.c_str() + host.rfind(':') + 1));
  host.resize(host.rfind(':'));
  platform::SocketsStartup();
  platform::Ipv4Address agent{0, Be16(port)};
  if (!platform::ResolveHost(host.c_str(), &agent.address)) {
    std::fprintf(stderr, "agent_bench: %s: host not found\n", host.c_str());
    return 1;
  }

  BaselineServer baseline;
  if (!baseline.Start()) {
    std::fprintf(stderr, "agent_bench: cannot open the baseline server\n");
    return 1;
  }
  const Figures base = Measure(baseline.address());
  const Figures a = Measure(agent);
  if (!base.ok || !a.ok) {
    std::fprintf(stderr, "agent_bench: %s failed\n", base.ok ? "the agent" : "the baseline");
    return 1;
  }
  std::printf("agent %s:%u, baseline 127.0.0.1:%u; %d round trips, %d connections\n",
              host.c_str(), port, HostPort(baseline.address().port), kRoundTrips, kConnections);
  std::printf("%-36s %12s %12s %9s\n", "", "agent", "baseline", "ratio");
  std::printf("%-36s %12.0f %12.0f %9.2f\n", "MAC round trips per second", a.round_trips_per_s,
              base.round_trips_per_s, a.round_trips_per_s / base.round_trips_per_s);
  std::printf("%-36s %12.3f %12.3f %9.1f\n", "connect to first reply, median ms", a.median_ms,
              base.median_ms, a.median_ms / base.median_ms);
  std::printf("%-36s %12.3f %12.3f %9.1f\n", "connect to first reply, p99 ms", a.p99_ms,
              base.p99_ms, a.p99_ms / base.p99_ms);
  platform::SocketsCleanup();
  return 0;
}
