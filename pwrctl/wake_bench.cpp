// The fleet of the wake benchmark: one process that owns COUNT addresses of a
// PC subnet (FIRST, FIRST+1, ...; the caller gives them to its interface)
// and, as the magic packet of each arrives (its MAC is 02-00 followed by the
// address), starts answering MAC requests on it as an agent would, on PORT.
// When all have woken it prints the realtime clock, in milliseconds, of the
// first and of the last packet that woke one: "woke COUNT FIRST_MS LAST_MS".
// It ends after SECONDS (120) or at SIGTERM.
//   wake_bench FIRST COUNT PORT [SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent/protocol.h"

namespace {

long long RealMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int Listener(uint32_t address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(address);
  at.sin_port = htons(port);
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 64) != 0) {
    std::perror("wake_bench: listen");
    std::exit(1);
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  in_addr first_address{};
  if (argc < 4 || inet_pton(AF_INET, argv[1], &first_address) != 1) {
    std::fprintf(stderr, "usage: wake_bench FIRST COUNT PORT [SECONDS]\n");
    return 2;
  }
  const uint32_t first = ntohl(first_address.s_addr);
  const size_t count = std::strtoul(argv[2], nullptr, 10);
  const uint16_t port = static_cast<uint16_t>(std::strtoul(argv[3], nullptr, 10));
  const long long end = RealMs() + 1000LL * (argc > 4 ? std::atoi(argv[4]) : 120);

  const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), one = 1;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(kWakePort);
  if (udp < 0 || setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(udp, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    std::perror("wake_bench: port 9");
    return 1;
  }
  std::printf("asleep\n");
  std::fflush(stdout);
  std::vector<bool> awake(count, false);
  size_t woken = 0;
  long long first_ms = 0;
  // fds[0] the datagram socket; then listeners and connections, told apart
  // by `listening`.
  std::vector<pollfd> fds{{udp, POLLIN, 0}};
  std::vector<bool> listening{false};
  while (RealMs() < end) {
    if (poll(fds.data(), fds.size(), 200) <= 0) continue;
    for (size_t i = fds.size(); i-- > 0;) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      uint8_t b[200];
      if (i == 0) {
        const ssize_t n = recv(udp, b, sizeof b, 0);
        if (n != static_cast<ssize_t>(kMagicPacketSize) || b[6] != 0x02 || b[7] != 0) continue;
        const uint32_t address = static_cast<uint32_t>(b[8]) << 24 | b[9] << 16 | b[10] << 8 | b[11];
        uint8_t want[kMagicPacketSize];
        BuildMagicPacket(b + 6, want);
        const size_t k = address - first;
        if (address < first || k >= count || awake[k] || std::memcmp(b, want, sizeof want) != 0) {
          continue;
        }
        awake[k] = true;
        const long long now = RealMs();
        if (woken++ == 0) first_ms = now;
        fds.push_back({Listener(address, port), POLLIN, 0});
        listening.push_back(true);
        if (woken == count) {
          std::printf("woke %zu %lld %lld\n", count, first_ms, now);
          std::fflush(stdout);
        }
      } else if (listening[i]) {
        const int c = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          fds.push_back({c, POLLIN, 0});
          listening.push_back(false);
        }
      } else {
        const ssize_t n = recv(fds[i].fd, b, AGENT_BLOCK_SIZE, 0);
        sockaddr_in local{};
        socklen_t len = sizeof local;
        uint8_t area[AGENT_BLOCK_SIZE], mac[6] = {0x02, 0x00};
        if (n >= static_cast<ssize_t>(AGENT_MESSAGE_SIZE) &&
            getsockname(fds[i].fd, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
          std::memcpy(mac + 2, &local.sin_addr, 4);
          const uint32_t size = BuildMacResponse(area, mac);
          if (send(fds[i].fd, area, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size)) continue;
        }
        close(fds[i].fd);
        fds.erase(fds.begin() + static_cast<long>(i));
        listening.erase(listening.begin() + static_cast<long>(i));
      }
    }
  }
  return 0;
}
