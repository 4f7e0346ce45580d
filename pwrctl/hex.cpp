#include "pwrctl/hex.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

bool ParseHex(const char* text, std::vector<uint8_t>* bytes) {
  std::string digits;
  for (const char* p = text; *p; ++p) {
    if (std::isxdigit(static_cast<unsigned char>(*p))) {
      digits += *p;
    } else if (*p != ' ' && *p != ':' && *p != '-') {
      return false;
    }
  }
  if (digits.empty() || digits.size() % 2 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return true;
}

std::string ToHex(const uint8_t* bytes, size_t size) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, i ? " %02x" : "%02x", bytes[i]);
    s += b;
  }
  return s;
}
