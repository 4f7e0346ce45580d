// The line formats of the setup disks' list files, without Windows: a line
// of dsksetup.inf (a section header or a "DISK, NAME," entry), a FILE line
// of mgrremov.inf, and the name a listed file is stored under on its disk.
// Text is code page 932; a name that could reach outside its folder is
// never returned.
#pragma once

#include <cstddef>

constexpr size_t DISK_LIST_LINE_SIZE = 256;   // dsksetup.inf: 255 characters per read
constexpr size_t REMOVE_LIST_LINE_SIZE = 50;  // mgrremov.inf: 49 characters per read
constexpr size_t LISTED_NAME_MAX = 15;        // a dsksetup.inf name, without its NUL
constexpr size_t REMOVE_NAME_MAX = 23;        // a mgrremov.inf name, without its NUL

enum class DiskListLineKind {
  kOther,   // blank, a comment, or out of the limits: skipped
  kHeader,  // a line beginning with '['
  kEntry,
};

struct DiskListLine {
  DiskListLineKind kind = DiskListLineKind::kOther;
  // For a header: the destination it selects (a DestinationKind), 0 when it
  // is none of the known headers and the current destination stays.
  int destination = 0;
  int disk = 0;  // for an entry: its disk number, any value (only 1 to 4 are used)
  char name[LISTED_NAME_MAX + 1] = "";
};

// One line of dsksetup.inf as read (with or without its line end). An entry
// whose name is empty, longer than LISTED_NAME_MAX, not followed by a comma
// in its token, or reaching outside its folder is kOther.
DiskListLine ParseDiskListLine(const char* line);

// One line of mgrremov.inf as read: the name after the first '=' of a line
// beginning with "FILE", its line end dropped, copied into name
// (REMOVE_NAME_MAX + 1 bytes). False for any other line and for a name that
// is empty, too long or reaching outside its folder.
bool ParseRemoveListLine(const char* line, char* name);

// The name a listed file is stored under on its disk: the name with its last
// character replaced by '_', unless the text from its first '.' begins with
// ".inf" (case-sensitive), which is stored as it is. out holds
// LISTED_NAME_MAX + 1 bytes.
void StoredName(const char* name, char* out);

// Whether a name holds a path separator, a drive colon or "..", or is made
// only of dots, scanned character by character in code page 932.
bool ReachesOutsideFolder(const char* name);
