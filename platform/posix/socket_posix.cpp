// Sockets for Linux. What WSACleanup does to the sockets still open (they
// stop working, blocked calls return) is done with shutdown() on every socket
// this process still holds.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

namespace platform {
namespace {

// Never destroyed: threads that outlive a stop may still close sockets
// while the process ends.
struct OpenSockets {
  std::mutex lock;
  std::set<int> fds;
};

OpenSockets& Open() {
  static OpenSockets* open = new OpenSockets;
  return *open;
}

void Track(int fd) {
  std::lock_guard<std::mutex> guard(Open().lock);
  Open().fds.insert(fd);
}

void Untrack(int fd) {
  std::lock_guard<std::mutex> guard(Open().lock);
  Open().fds.erase(fd);
}

sockaddr_in ToSockaddr(const Ipv4Address& a) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = a.port;
  sa.sin_addr.s_addr = a.address;
  return sa;
}

}  // namespace

Socket::~Socket() { Close(); }

Socket Socket::Create() {
  Socket s;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return s;
  // Windows lets a listener bind again at once after a restart; so do we.
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  Track(fd);
  s.handle_ = fd;
  return s;
}

bool Socket::valid() const { return handle_ != -1; }

void Socket::Close() {
  if (handle_ == -1) return;
  Untrack(static_cast<int>(handle_));
  close(static_cast<int>(handle_));
  handle_ = -1;
}

bool Socket::Bind(const Ipv4Address& local) {
  const sockaddr_in sa = ToSockaddr(local);
  return bind(static_cast<int>(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Socket::Listen(int backlog) { return listen(static_cast<int>(handle_), backlog) == 0; }

bool Socket::SetNonBlocking(bool on) {
  const int fd = static_cast<int>(handle_);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

Socket Socket::Accept(Ipv4Address* peer) {
  Socket s;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  socklen_t len = sizeof sa;
  const int fd = accept4(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &len,
                         SOCK_CLOEXEC);
  if (fd < 0) return s;
  Track(fd);
  s.handle_ = fd;
  peer->address = sa.sin_addr.s_addr;
  peer->port = sa.sin_port;
  return s;
}

bool Socket::Connect(const Ipv4Address& remote) {
  const sockaddr_in sa = ToSockaddr(remote);
  int rc;
  do {
    rc = connect(static_cast<int>(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool Socket::ConnectWithin(const Ipv4Address& remote, uint32_t timeout_ms) {
  if (!SetNonBlocking(true)) return false;
  const int fd = static_cast<int>(handle_);
  const sockaddr_in sa = ToSockaddr(remote);
  int error = 0;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    error = errno;
    if (error == EINPROGRESS || error == EINTR) {
      pollfd p{fd, POLLOUT, 0};
      int n;
      do {
        n = poll(&p, 1, static_cast<int>(timeout_ms));
      } while (n < 0 && errno == EINTR);
      socklen_t len = sizeof error;
      if (n == 0) {
        error = ETIMEDOUT;
      } else if (n < 0) {
        error = errno;
      } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        error = errno;
      }
    }
  }
  SetNonBlocking(false);
  errno = error;
  return error == 0;
}

int Socket::Recv(void* buffer, int size) {
  ssize_t n;
  do {
    n = recv(static_cast<int>(handle_), buffer, static_cast<size_t>(size), 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int Socket::Send(const void* buffer, int size) {
  ssize_t n;
  do {
    n = send(static_cast<int>(handle_), buffer, static_cast<size_t>(size), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int Socket::WaitReadable(uint32_t timeout_ms, const WakeSignal* wake) {
  pollfd p[2] = {{static_cast<int>(handle_), POLLIN, 0}, {-1, POLLIN, 0}};
  if (wake && wake->valid()) p[1].fd = static_cast<int>(wake->handle_);
  const int n = poll(p, 2, timeout_ms == kWaitForever ? -1 : static_cast<int>(timeout_ms));
  if (n > 0 && p[1].revents) return 2;
  return n < 0 ? -1 : (n > 0 ? 1 : 0);
}

bool Socket::LocalAddress(Ipv4Address* local) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  socklen_t len = sizeof sa;
  if (getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    return false;
  }
  local->address = sa.sin_addr.s_addr;
  local->port = sa.sin_port;
  return true;
}

WakeSignal::~WakeSignal() {
  if (handle_ != -1) close(static_cast<int>(handle_));
}

WakeSignal WakeSignal::Create() {
  WakeSignal w;
  w.handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return w;
}

bool WakeSignal::Raise() {
  const uint64_t one = 1;
  return write(static_cast<int>(handle_), &one, sizeof one) == sizeof one;
}

int SocketsStartup() { return 0; }

int SocketsCleanup() {
  std::lock_guard<std::mutex> guard(Open().lock);
  for (int fd : Open().fds) shutdown(fd, SHUT_RDWR);
  return 0;
}

int SocketError() { return errno; }

bool IsWouldBlock(int code) { return code == EWOULDBLOCK || code == EAGAIN; }

bool IsRefused(int code) { return code == ECONNREFUSED; }

bool IsTimedOut(int code) { return code == ETIMEDOUT; }

bool LookupServicePort(const char* name, const char* protocol, uint16_t* port) {
  const char* path = std::getenv("ORVEL_SERVICES_FILE");
  if (!path || !*path) {
    servent result;
    servent* se = nullptr;
    char buf[1024];
    if (getservbyname_r(name, protocol, &result, buf, sizeof buf, &se) != 0 || !se) {
      errno = ENOENT;
      return false;
    }
    *port = static_cast<uint16_t>(se->s_port);
    return true;
  }
  // Whole lines, however long: the tail of a long comment is no entry.
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream fields(line);
    std::string entry, port_proto;
    if (!(fields >> entry >> port_proto) || entry != name) continue;
    // Digits only, at most five: no sign, no wrap-around.
    const size_t digits = port_proto.find_first_not_of("0123456789");
    if (digits == 0 || digits > 5 || digits == std::string::npos) continue;
    if (port_proto[digits] != '/' || port_proto.compare(digits + 1, std::string::npos, protocol) != 0) {
      continue;
    }
    const unsigned long number = std::stoul(port_proto.substr(0, digits));
    if (number == 0 || number > 65535) continue;
    *port = htons(static_cast<uint16_t>(number));
    return true;
  }
  errno = ENOENT;
  return false;
}

bool ResolveHost(const char* host, uint32_t* address) {
  in_addr a;
  if (inet_aton(host, &a) != 0) {
    *address = a.s_addr;
    return true;
  }
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return false;
  *address = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(res);
  return true;
}

bool SendDatagram(const Ipv4Address& to, const void* data, int size) {
  struct Fd {
    int fd;
    ~Fd() {
      if (fd >= 0) close(fd);
    }
  } s{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
  if (s.fd < 0) return false;
  const int one = 1;
  if (setsockopt(s.fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) return false;
  const sockaddr_in sa = ToSockaddr(to);
  const ssize_t n = sendto(s.fd, data, static_cast<size_t>(size), 0,
                           reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n == size;
}

}  // namespace platform
