// The hosts that pwrctl scan, off and wake name on their command line: an
// address or a host name, either with its own :PORT, a network A.B.C.D/N (N
// at least 16) or a range A-B. Addresses and ports here are in host byte
// order, so that they sort numerically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The most hosts one command line may name: a /16, or a range of 65,536.
constexpr size_t kMaxTargetHosts = 65536;
// A longer target is refused unread; a host name has at most 253 characters.
constexpr size_t kMaxTargetText = 255;

// One host to ask, and the port its target gave (0: none, so the port of -p
// or of the services entry).
struct TargetHost {
  uint32_t address;
  uint16_t port;
  bool operator<(const TargetHost& o) const {
    return address != o.address ? address < o.address : port < o.port;
  }
  bool operator==(const TargetHost& o) const { return address == o.address && port == o.port; }
};

// A host name to its address (host byte order); false when not found.
using HostResolver = std::function<bool(const std::string& name, uint32_t* address)>;

// Adds the hosts of every target to *hosts, which ends sorted and without
// duplicates. A network of /31 or /32 gives all its addresses, a wider one all
// but its network and broadcast addresses; networks and ranges take no port.
// False with *error naming the first bad target (a port outside 1 to 65535 is
// one), and *hosts unspecified; more than kMaxTargetHosts hosts in all is an
// error too, found before memory grows beyond twice that.
bool ParseTargets(const std::vector<std::string>& targets, const HostResolver& resolve,
                  std::vector<TargetHost>* hosts, std::string* error);

// Fills in default_port wherever a host has none, then sorts again and drops
// the duplicates that made.
void SetDefaultPort(std::vector<TargetHost>* hosts, uint16_t default_port);

// The targets of a target file: the first word of each line; blank lines and
// lines starting with '#' are skipped. A saved scan table ("ADDRESS  MAC")
// gives its addresses.
std::vector<std::string> TargetFileLines(const std::string& text);

// A strict dotted IPv4 address: four decimal numbers up to 255, no leading zeros.
bool ParseIpv4(const std::string& text, uint32_t* address);
std::string FormatIpv4(uint32_t address);
// A table's name for a host: "A.B.C.D", or "A.B.C.D:PORT" where the port is
// not default_port, so that a saved table names the host as it was asked.
std::string FormatHost(const TargetHost& host, uint16_t default_port);

// The mask of a network of `prefix` bits (0 to 32), host byte order.
uint32_t PrefixMask(int prefix);

// Between host byte order and the network byte order of platform::Ipv4Address.
uint32_t NetworkToHost(uint32_t network_order);
uint32_t HostToNetwork(uint32_t host_order);
uint16_t PortToHost(uint16_t network_order);
uint16_t PortToNetwork(uint16_t host_order);
