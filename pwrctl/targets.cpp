#include "pwrctl/targets.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits and dots only: text meant as an address, never looked up as a name.
bool LooksNumeric(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
}

bool IsHostName(const std::string& text) {
  if (text.empty() || text.front() == '-' || text.front() == '.') return false;
  for (char c : text) {
    if (!IsDigit(c) && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && c != '-' &&
        c != '.' && c != '_') {
      return false;
    }
  }
  return true;
}

void AddRange(uint32_t first, uint32_t last, uint16_t port, std::vector<TargetHost>* hosts) {
  for (uint64_t a = first; a <= last; ++a) hosts->push_back({static_cast<uint32_t>(a), port});
}

// A decimal port 1 to 65535, without sign or leading zero.
bool ParsePortText(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5 || text[0] == '0') return false;
  unsigned value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// One target's hosts appended; an error text (without the target) on failure.
bool AddTarget(const std::string& whole, const HostResolver& resolve,
               std::vector<TargetHost>* hosts, std::string* why) {
  std::string text = whole;
  uint16_t port = 0;
  // An address or a host name may carry its own port; networks and ranges
  // take the one of -p, so a colon in them is left to make them bad.
  const size_t colon = text.rfind(':');
  const size_t range_dash = text.find('-');
  const bool network_or_range =
      text.find('/') != std::string::npos ||
      (range_dash != std::string::npos && LooksNumeric(text.substr(0, range_dash)));
  if (colon != std::string::npos && !network_or_range) {
    if (!ParsePortText(text.substr(colon + 1), &port)) {
      *why = "not a port 1 to 65535 after the ':'";
      return false;
    }
    text.resize(colon);
  }
  uint32_t first = 0, last = 0;
  const size_t slash = text.find('/');
  const size_t dash = text.find('-');
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    if (!ParseIpv4(text.substr(0, slash), &first) || bits.empty() || bits.size() > 2 ||
        !IsDigit(bits[0]) || (bits.size() == 2 && (!IsDigit(bits[1]) || bits[0] == '0'))) {
      *why = "not a network A.B.C.D/N";
      return false;
    }
    const int prefix = std::stoi(bits);
    if (prefix > 32) {
      *why = "a prefix beyond /32";
      return false;
    }
    if (prefix < 16) {
      *why = "a network wider than /16 (65,536 addresses) is refused";
      return false;
    }
    const uint32_t mask = PrefixMask(prefix);
    first &= mask;
    last = first | ~mask;
    if (prefix < 31) {  // the network and broadcast addresses are no hosts
      ++first;
      --last;
    }
  } else if (dash != std::string::npos && LooksNumeric(text.substr(0, dash))) {
    if (!ParseIpv4(text.substr(0, dash), &first) || !ParseIpv4(text.substr(dash + 1), &last)) {
      *why = "not a range A-B of two addresses";
      return false;
    }
    if (first > last) {
      *why = "the range ends before it starts";
      return false;
    }
    if (last - first >= kMaxTargetHosts) {
      *why = "a range of more than 65,536 addresses is refused";
      return false;
    }
  } else if (LooksNumeric(text)) {
    if (!ParseIpv4(text, &first)) {
      *why = "not an IPv4 address";
      return false;
    }
    last = first;
  } else if (IsHostName(text)) {
    if (!resolve || !resolve(text, &first)) {
      *why = "host not found";
      return false;
    }
    last = first;
  } else {
    *why = "not an address, network A.B.C.D/N, range A-B or host name";
    return false;
  }
  AddRange(first, last, port, hosts);
  return true;
}

void SortUnique(std::vector<TargetHost>* hosts) {
  std::sort(hosts->begin(), hosts->end());
  hosts->erase(std::unique(hosts->begin(), hosts->end()), hosts->end());
}

}  // namespace

bool ParseTargets(const std::vector<std::string>& targets, const HostResolver& resolve,
                  std::vector<TargetHost>* hosts, std::string* error) {
  for (const std::string& text : targets) {
    if (text.size() > kMaxTargetText) {
      *error = text.substr(0, 40) + "...: a target longer than 255 characters";
      return false;
    }
    std::string why;
    if (!AddTarget(text, resolve, hosts, &why)) {
      *error = "\"" + text + "\": " + why;
      return false;
    }
    // Duplicates are dropped before the list may grow further.
    if (hosts->size() > kMaxTargetHosts) SortUnique(hosts);
    if (hosts->size() > kMaxTargetHosts) {
      *error = "\"" + text + "\": the targets name more than 65,536 hosts";
      return false;
    }
  }
  SortUnique(hosts);
  return true;
}

void SetDefaultPort(std::vector<TargetHost>* hosts, uint16_t default_port) {
  for (TargetHost& host : *hosts) {
    if (host.port == 0) host.port = default_port;
  }
  SortUnique(hosts);
}

std::vector<std::string> TargetFileLines(const std::string& text) {
  std::vector<std::string> targets;
  std::istringstream lines(text);
  std::string line, word;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    if (!(words >> word) || word[0] == '#') continue;
    targets.push_back(word);
  }
  return targets;
}

bool ParseIpv4(const std::string& text, uint32_t* address) {
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (i >= text.size() || text[i++] != '.')) return false;
    const size_t start = i;
    unsigned number = 0;
    while (i < text.size() && IsDigit(text[i]) && i - start < 3) {
      number = number * 10 + static_cast<unsigned>(text[i++] - '0');
    }
    if (i == start || number > 255 || (text[start] == '0' && i - start > 1)) return false;
    value = value << 8 | number;
  }
  if (i != text.size()) return false;
  *address = value;
  return true;
}

std::string FormatIpv4(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
         std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255);
}

std::string FormatHost(const TargetHost& host, uint16_t default_port) {
  return FormatIpv4(host.address) +
         (host.port == default_port ? "" : ":" + std::to_string(host.port));
}

uint32_t PrefixMask(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }

uint32_t NetworkToHost(uint32_t network_order) {
  uint8_t b[4];
  std::memcpy(b, &network_order, 4);
  return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
         static_cast<uint32_t>(b[2]) << 8 | b[3];
}

uint32_t HostToNetwork(uint32_t host_order) {
  const uint8_t b[4] = {static_cast<uint8_t>(host_order >> 24), static_cast<uint8_t>(host_order >> 16),
                        static_cast<uint8_t>(host_order >> 8), static_cast<uint8_t>(host_order)};
  uint32_t network_order;
  std::memcpy(&network_order, b, 4);
  return network_order;
}

uint16_t PortToHost(uint16_t network_order) {
  uint8_t b[2];
  std::memcpy(b, &network_order, 2);
  return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

uint16_t PortToNetwork(uint16_t host_order) {
  const uint8_t b[2] = {static_cast<uint8_t>(host_order >> 8), static_cast<uint8_t>(host_order)};
  uint16_t network_order;
  std::memcpy(&network_order, b, 2);
  return network_order;
}
