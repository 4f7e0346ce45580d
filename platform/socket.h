// IPv4 stream sockets in the shape of Windows Sockets 1.1. Addresses and
// ports are kept in network byte order, as in a sockaddr_in. Error codes are
// the platform's own (WSAGetLastError on Windows, errno elsewhere), because
// the agent writes them into its trace lines as they are.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

// The largest listen backlog: SOMAXCONN of Windows Sockets 2, with which the
// provider grants its own maximum (Windows Sockets 1.1's SOMAXCONN is 5). Linux
// cuts it to net.core.somaxconn.
constexpr int kMaxBacklog = 0x7fffffff;

struct Ipv4Address {
  uint32_t address;  // sin_addr, network byte order
  uint16_t port;     // sin_port, network byte order
};

// Socket::WaitReadable's timeout that never runs out.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// A flag that ends Socket::WaitReadable on other threads, and stays raised:
// an eventfd on Linux; on Windows, whose Sockets 1.1 wait on sockets only, a
// datagram socket on the loopback that sends itself one byte, left unread.
// Not inherited by child processes.
class WakeSignal {
 public:
  WakeSignal() = default;
  WakeSignal(WakeSignal&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  WakeSignal& operator=(WakeSignal&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;
  ~WakeSignal();

  // Not valid() on failure.
  static WakeSignal Create();
  bool valid() const { return handle_ != -1; }
  bool Raise();

 private:
  friend class Socket;
  intptr_t handle_ = -1;
};

class Socket {
 public:
  Socket() = default;
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  Socket& operator=(Socket&& other) noexcept {
    std::swap(handle_, other.handle_);  // the old socket closes with `other`
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket();  // closes the socket

  // A new IPv4 stream socket; not valid() on failure (SocketError() tells why).
  // It and the connections it accepts are not inherited by child processes,
  // so that a child outliving this process holds no port or connection.
  static Socket Create();

  bool valid() const;
  void Close();

  bool Bind(const Ipv4Address& local);
  bool Listen(int backlog);
  // FIONBIO: true makes calls return at once with a would-block error.
  bool SetNonBlocking(bool on);
  // The accepted connection, not valid() on failure; peer filled on success.
  Socket Accept(Ipv4Address* peer);
  bool Connect(const Ipv4Address& remote);
  // Connect, given up after timeout_ms (the error is then the platform's
  // time-out code); the socket is blocking again afterwards.
  bool ConnectWithin(const Ipv4Address& remote, uint32_t timeout_ms);
  // Bytes received, 0 when the peer closed its side, -1 on error.
  int Recv(void* buffer, int size);
  // Bytes sent, -1 on error. Never raises a signal on a closed peer.
  int Send(const void* buffer, int size);
  // 1 readable (data or end of stream), 0 timed out, -1 error; 2 when
  // `wake` is given, valid and raised, whether or not the socket is readable.
  int WaitReadable(uint32_t timeout_ms, const WakeSignal* wake = nullptr);
  bool LocalAddress(Ipv4Address* local);

 private:
  intptr_t handle_ = -1;
};

// WSAStartup for version 1.1; returns the call's result (0 on success).
int SocketsStartup();
// WSACleanup: every socket still open stops working. Returns the call's
// result (0 on success).
int SocketsCleanup();
// The calling thread's last socket error code.
int SocketError();
bool IsWouldBlock(int code);
bool IsRefused(int code);
bool IsTimedOut(int code);

// The port of a services-database entry (getservbyname), network byte order.
// On Linux a file named by $ORVEL_SERVICES_FILE, when set, is read instead of
// the system's database, so that tests need not edit /etc/services.
bool LookupServicePort(const char* name, const char* protocol, uint16_t* port);
// A dotted IPv4 address or a host name; network byte order.
bool ResolveHost(const char* host, uint32_t* address);

// One UDP datagram from a socket of its own, broadcast allowed (SO_BROADCAST),
// as Wake-on-LAN sends it. False on failure (SocketError() tells why).
bool SendDatagram(const Ipv4Address& to, const void* data, int size);

}  // namespace platform
