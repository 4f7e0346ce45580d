// A sleeping PC for the wake scenarios: waits on UDP port 9 for the magic
// packet of its MAC, then becomes the program given (the Linux agent), as a
// PC woken by its network card comes up with its agent.
//   sleeping_pc MAC PROGRAM [ARG...]     MAC as 02:00:0a:02:00:14
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  unsigned m[6];
  unsigned char magic[102], got[200];
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), one = 1;
  sockaddr_in at{AF_INET, htons(9), {}, {}};
  if (argc < 3 || std::sscanf(argv[1], "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4],
                              &m[5]) != 6 ||
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    std::perror("sleeping_pc MAC PROGRAM [ARG...]");
    return 2;
  }
  std::memset(magic, 0xFF, 6);
  for (int i = 6; i < 102; ++i) magic[i] = static_cast<unsigned char>(m[(i - 6) % 6]);
  std::printf("asleep\n");
  std::fflush(stdout);
  for (ssize_t n = 0; n != sizeof magic || std::memcmp(got, magic, sizeof magic) != 0;) {
    n = recv(fd, got, sizeof got, 0);
  }
  execv(argv[2], argv + 2);
  std::perror("sleeping_pc: exec");
  return 1;
}
