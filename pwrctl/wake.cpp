#include "pwrctl/wake.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseMac(const std::string& text, uint8_t mac[6]) {
  // Separated: the same '-' or ':' after each of the first five pairs.
  const bool separated = text.size() == 17;
  if (!separated && text.size() != 12) return false;
  const char separator = separated ? text[2] : 0;
  if (separated && separator != '-' && separator != ':') return false;
  const size_t step = separated ? 3 : 2;
  uint8_t bytes[6];
  for (size_t i = 0; i < 6; ++i) {
    const int high = HexValue(text[i * step]);
    const int low = HexValue(text[i * step + 1]);
    if (high < 0 || low < 0) return false;
    if (separated && i < 5 && text[i * step + 2] != separator) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  std::memcpy(mac, bytes, 6);
  return true;
}

std::string FormatMac(const uint8_t mac[6]) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::vector<WakeRow> WakeFileRows(const std::string& text) {
  std::vector<WakeRow> rows;
  std::istringstream lines(text);
  std::string line, first, second;
  uint8_t mac[6];
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    if (!(words >> first) || first[0] == '#') continue;
    if (ParseMac(first, mac)) {
      rows.push_back({"", first});
    } else if (words >> second && ParseMac(second, mac)) {
      rows.push_back({first, second});
    }
  }
  return rows;
}
