#include "platform/socket.h"

#include <winsock.h>

#include <cstring>

namespace platform {
namespace {

SOCKET S(intptr_t h) { return static_cast<SOCKET>(h); }

// Processes are started with handle inheritance on (the countdown program
// needs it); a socket handle must still stay in this process.
void KeepFromChildren(SOCKET h) {
  SetHandleInformation(reinterpret_cast<HANDLE>(h), HANDLE_FLAG_INHERIT, 0);
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
  const SOCKET h = socket(AF_INET, SOCK_STREAM, 0);
  if (h == INVALID_SOCKET) return s;
  KeepFromChildren(h);
  s.handle_ = static_cast<intptr_t>(h);
  return s;
}

bool Socket::valid() const { return handle_ != -1; }

void Socket::Close() {
  if (handle_ == -1) return;
  closesocket(S(handle_));
  handle_ = -1;
}

bool Socket::Bind(const Ipv4Address& local) {
  const sockaddr_in sa = ToSockaddr(local);
  return bind(S(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Socket::Listen(int backlog) { return listen(S(handle_), backlog) == 0; }

bool Socket::SetNonBlocking(bool on) {
  u_long arg = on ? 1 : 0;
  return ioctlsocket(S(handle_), FIONBIO, &arg) == 0;
}

Socket Socket::Accept(Ipv4Address* peer) {
  Socket s;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  int len = sizeof sa;
  const SOCKET h = accept(S(handle_), reinterpret_cast<sockaddr*>(&sa), &len);
  if (h == INVALID_SOCKET) return s;
  KeepFromChildren(h);
  s.handle_ = static_cast<intptr_t>(h);
  peer->address = sa.sin_addr.s_addr;
  peer->port = sa.sin_port;
  return s;
}

bool Socket::Connect(const Ipv4Address& remote) {
  const sockaddr_in sa = ToSockaddr(remote);
  return connect(S(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Socket::ConnectWithin(const Ipv4Address& remote, uint32_t timeout_ms) {
  if (!SetNonBlocking(true)) return false;
  const sockaddr_in sa = ToSockaddr(remote);
  int error = 0;
  if (connect(S(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      // A failed non-blocking connect shows in the exception set, not the write set.
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(S(handle_), &writable);
      FD_SET(S(handle_), &failed);
      timeval tv;
      tv.tv_sec = static_cast<long>(timeout_ms / 1000);
      tv.tv_usec = static_cast<long>(timeout_ms % 1000) * 1000;
      const int n = select(0, nullptr, &writable, &failed, &tv);
      int len = sizeof error;
      if (n == 0) {
        error = WSAETIMEDOUT;
      } else if (n == SOCKET_ERROR) {
        error = WSAGetLastError();
      } else if (FD_ISSET(S(handle_), &writable)) {
        error = 0;
      } else if (getsockopt(S(handle_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                            &len) != 0 || error == 0) {
        error = WSAECONNREFUSED;
      }
    }
  }
  SetNonBlocking(false);
  WSASetLastError(error);
  return error == 0;
}

int Socket::Recv(void* buffer, int size) {
  const int n = recv(S(handle_), static_cast<char*>(buffer), size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int Socket::Send(const void* buffer, int size) {
  const int n = send(S(handle_), static_cast<const char*>(buffer), size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int Socket::WaitReadable(uint32_t timeout_ms, const WakeSignal* wake) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(S(handle_), &set);
  const bool waking = wake && wake->valid();
  if (waking) FD_SET(S(wake->handle_), &set);
  timeval tv;
  tv.tv_sec = static_cast<long>(timeout_ms / 1000);
  tv.tv_usec = static_cast<long>(timeout_ms % 1000) * 1000;
  const int n = select(0, &set, nullptr, nullptr, timeout_ms == kWaitForever ? nullptr : &tv);
  if (n > 0 && waking && FD_ISSET(S(wake->handle_), &set)) return 2;
  return n == SOCKET_ERROR ? -1 : (n > 0 ? 1 : 0);
}

bool Socket::LocalAddress(Ipv4Address* local) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  int len = sizeof sa;
  if (getsockname(S(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  local->address = sa.sin_addr.s_addr;
  local->port = sa.sin_port;
  return true;
}

WakeSignal::~WakeSignal() {
  if (handle_ != -1) closesocket(S(handle_));
}

WakeSignal WakeSignal::Create() {
  WakeSignal w;
  const SOCKET h = socket(AF_INET, SOCK_DGRAM, 0);
  if (h == INVALID_SOCKET) return w;
  w.handle_ = static_cast<intptr_t>(h);
  KeepFromChildren(h);
  // Bound to a free loopback port and connected to itself: Raise is one send.
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof sa;
  if (bind(h, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      getsockname(h, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      connect(h, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    return WakeSignal();  // `w` closes the socket
  }
  return w;
}

bool WakeSignal::Raise() {
  const char one = 1;
  return send(S(handle_), &one, 1, 0) == 1;
}

int SocketsStartup() {
  WSADATA data;
  return WSAStartup(0x0101, &data);
}

int SocketsCleanup() { return WSACleanup(); }

int SocketError() { return WSAGetLastError(); }

bool IsWouldBlock(int code) { return code == WSAEWOULDBLOCK; }

bool IsRefused(int code) { return code == WSAECONNREFUSED; }

bool IsTimedOut(int code) { return code == WSAETIMEDOUT; }

bool LookupServicePort(const char* name, const char* protocol, uint16_t* port) {
  const servent* se = getservbyname(name, protocol);
  if (!se) return false;
  *port = static_cast<uint16_t>(se->s_port);
  return true;
}

bool ResolveHost(const char* host, uint32_t* address) {
  const unsigned long a = inet_addr(host);
  if (a != INADDR_NONE || std::strcmp(host, "255.255.255.255") == 0) {
    *address = static_cast<uint32_t>(a);
    return true;
  }
  const hostent* he = gethostbyname(host);
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) return false;
  std::memcpy(address, he->h_addr_list[0], 4);
  return true;
}

bool SendDatagram(const Ipv4Address& to, const void* data, int size) {
  struct Handle {
    SOCKET h;
    ~Handle() {
      if (h != INVALID_SOCKET) closesocket(h);
    }
  } s{socket(AF_INET, SOCK_DGRAM, 0)};
  if (s.h == INVALID_SOCKET) return false;
  const BOOL on = TRUE;
  if (setsockopt(s.h, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    return false;
  }
  const sockaddr_in sa = ToSockaddr(to);
  return sendto(s.h, static_cast<const char*>(data), size, 0,
                reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == size;
}

}  // namespace platform
