// Wake-on-LAN: the magic packet and the MAC texts pwrctl wake takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A MAC as 00-11-22-AB-CD-EF, 00:11:22:ab:cd:ef or 001122ABCDEF (either case).
bool ParseMac(const std::string& text, uint8_t mac[6]);
// The form pwrctl prints: 00-11-22-AB-CD-EF.
std::string FormatMac(const uint8_t mac[6]);

// One PC of a wake file: its MAC as written, and the address its line gives
// ("" for a line that is a MAC alone).
struct WakeRow {
  std::string address;
  std::string mac;
};

// The PCs of a wake file: each line's first word when it is a MAC, else its
// second (the MAC column of a saved scan table, after the address). Lines
// where neither is one, an outcome such as "timed out" in place of a MAC,
// blank lines and '#' comments are skipped.
std::vector<WakeRow> WakeFileRows(const std::string& text);
