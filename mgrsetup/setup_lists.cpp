#include "mgrsetup/setup_lists.h"

#include <cstring>

namespace {

struct Header {
  const char* text;  // compared over its own length, so text may follow it
  int destination;   // a DestinationKind: 1 install, 2 system, 3 DAO folder
};
const Header kHeaders[] = {
    {"[QXWOL Manager Files]", 1},
    {"[QXWOL Manager DLL Files]", 2},
    {"[Manager Del Files]", 1},
    {"[Manager COMMON DLL]", 2},
    {"[Dao DLL]", 3},
};

// White space as the C library's scanf skips it.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

const char* SkipSpace(const char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

}  // namespace

bool ReachesOutsideFolder(const char* name) {
  // "." is the folder itself, as ".." is its parent.
  if (name[std::strspn(name, ".")] == '\0') return true;
  for (const char* p = name; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') return true;
    if (p[0] == '.' && p[1] == '.') return true;
    // A trail byte (0x5C may be one) is part of its character, never a separator.
    if (IsLeadByte(static_cast<unsigned char>(*p)) && p[1]) ++p;
  }
  return false;
}

DiskListLine ParseDiskListLine(const char* line) {
  DiskListLine result;
  if (line[0] == '[') {
    result.kind = DiskListLineKind::kHeader;
    for (const Header& h : kHeaders) {
      if (std::strncmp(line, h.text, std::strlen(h.text)) == 0) {
        result.destination = h.destination;
        break;
      }
    }
    return result;
  }

  // "%d, %s": a decimal number, a comma, optional white space, a token.
  const char* p = SkipSpace(line);
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return result;
  int disk = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (disk < 1000) disk = disk * 10 + (*p - '0');  // any large number is no disk
  }
  if (*p++ != ',') return result;
  const char* token = SkipSpace(p);
  const char* end = token;
  while (*end && !IsSpace(*end)) ++end;
  const char* comma = static_cast<const char*>(std::memchr(token, ',', end - token));
  if (!comma) return result;  // the name must be followed by its comma
  const size_t length = comma - token;
  if (length == 0 || length > LISTED_NAME_MAX) return result;

  std::memcpy(result.name, token, length);
  result.name[length] = '\0';
  if (ReachesOutsideFolder(result.name)) {
    result.name[0] = '\0';
    return result;
  }
  result.kind = DiskListLineKind::kEntry;
  result.disk = negative ? -disk : disk;
  return result;
}

bool ParseRemoveListLine(const char* line, char* name) {
  if (std::strncmp(line, "FILE", 4) != 0) return false;
  size_t length = std::strlen(line);
  // Only a real line end is dropped: the last line may have none.
  if (length > 0 && line[length - 1] == '\n') {
    --length;
    if (length > 0 && line[length - 1] == '\r') --length;
  }
  const char* equals = static_cast<const char*>(std::memchr(line, '=', length));
  if (!equals) return false;
  const size_t nameLength = length - (equals + 1 - line);
  if (nameLength == 0 || nameLength > REMOVE_NAME_MAX) return false;
  char copy[REMOVE_NAME_MAX + 1];
  std::memcpy(copy, equals + 1, nameLength);
  copy[nameLength] = '\0';
  if (ReachesOutsideFolder(copy)) return false;
  std::memcpy(name, copy, nameLength + 1);
  return true;
}

void StoredName(const char* name, char* out) {
  size_t length = 0;
  while (length < LISTED_NAME_MAX && name[length]) ++length;
  std::memcpy(out, name, length);
  out[length] = '\0';
  const char* dot = std::strchr(out, '.');
  if (dot && std::strncmp(dot, ".inf", 4) == 0) return;
  if (length > 0) out[length - 1] = '_';
}
