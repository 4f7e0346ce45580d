#include "uninstall/wininit.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/unique_handle.h"

namespace {

const char kWininitName[] = "WININIT.INI";
const char kRenameHeader[] = "[Rename]";
constexpr int HEADER_LENGTH = 8;
const char kNulKey[] = "NUL=";
constexpr int NUL_KEY_LENGTH = 4;
// Room after the file's text for one inserted line: "NUL=", a short path of
// up to 259 bytes and CR LF, plus the CR LF a last line may lack.
constexpr DWORD SPARE_BYTES = 292;

BOOL WriteToFile(HANDLE file, const void* data, DWORD size, DWORD* written) {
  return WriteFile(file, data, size, written, nullptr);
}

bool WriteAll(WininitWrite write, HANDLE file, const char* data, DWORD size) {
  DWORD written = 0;
  return write(file, data, size, &written) && written == size;
}

FileHandle CreateNew(const char* path) {
  return FileHandle(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool EqualIgnoringCase(const char* a, int aLength, const char* b, int bLength) {
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, aLength, b, bLength) ==
         CSTR_EQUAL;
}

// The end of a line's text: its first CR, LF or the end of the text.
const char* LineEnd(const char* line) {
  const char* p = line;
  while (*p && *p != '\r' && *p != '\n') p = CharNextA(p);
  return p;
}

char* FindRenameHeader(char* text) {
  for (char* line = text; *line; line = const_cast<char*>(NextLine(line))) {
    if (EqualIgnoringCase(line, static_cast<int>(LineEnd(line) - line), kRenameHeader,
                          HEADER_LENGTH)) {
      return line;
    }
  }
  return nullptr;
}

// Where the section's lines begin: past the header and its line break.
char* SectionStart(char* header) {
  char* p = header + HEADER_LENGTH;
  if (p[0] == '\r' && p[1] == '\n') return p + 2;
  if (p[0] == '\r' || p[0] == '\n') return p + 1;
  return p;  // the header ends the text
}

bool RecordsPath(const char* line, const char* shortPath) {
  const char* end = LineEnd(line);
  return end - line >= NUL_KEY_LENGTH &&
         EqualIgnoringCase(line, NUL_KEY_LENGTH, kNulKey, NUL_KEY_LENGTH) &&
         EqualIgnoringCase(line + NUL_KEY_LENGTH, static_cast<int>(end - line - NUL_KEY_LENGTH),
                           shortPath, -1);
}

// Copies the rewritten text over WININIT.INI, keeping the old file in a
// temporary copy until the new one is whole.
bool RewriteWithBackup(const char* wininit, const char* text, WininitWrite write) {
  char tempDir[MAX_PATH];
  const DWORD dirLength = GetTempPathA(MAX_PATH, tempDir);
  if (dirLength == 0 || dirLength >= MAX_PATH) return false;
  char tempName[MAX_PATH];
  if (GetTempFileNameA(tempDir, "WI", 0, tempName) == 0) return false;
  if (!CopyFileA(wininit, tempName, FALSE) || !DeleteFileA(wininit)) {
    DeleteFileA(tempName);
    return false;
  }
  bool written = false;
  {
    FileHandle file = CreateNew(wininit);
    if (file.valid()) {
      written = WriteAll(write, file.get(), text, static_cast<DWORD>(std::strlen(text)));
    }
  }
  // The temporary copy is the only one left if it cannot be put back.
  if (!written && !CopyFileA(tempName, wininit, FALSE)) return false;
  DeleteFileA(tempName);
  return written;
}

}  // namespace

const char* NextLine(const char* text) {
  const char* p = text;
  while (*p) {
    if (*p == '\n') return p + 1;
    p = CharNextA(p);
  }
  return p;
}

bool WininitPath(const char* windowsDir, char* out, DWORD outSize) {
  const char* separator = std::strlen(windowsDir) == 3 ? "" : "\\";
  const int length = std::snprintf(out, outSize, "%s%s%s", windowsDir, separator, kWininitName);
  return length >= 0 && static_cast<DWORD>(length) < outSize;
}

int AddWininitDelete(const char* path) {
  char windowsDir[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(windowsDir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  return AddWininitDeleteIn(windowsDir, path);
}

int AddWininitDeleteIn(const char* windowsDir, const char* path, WininitWrite write) {
  if (!write) write = WriteToFile;
  if (!path || !*path) return 0;
  char shortPath[MAX_PATH];
  const DWORD shortLength = GetShortPathNameA(path, shortPath, MAX_PATH);
  if (shortLength == 0 || shortLength >= MAX_PATH) return 0;
  char wininit[MAX_PATH + sizeof kWininitName];
  if (!WininitPath(windowsDir, wininit, sizeof wininit)) return 0;

  char line[SPARE_BYTES];  // holds the longest: header, NUL= line, short path
  FileHandle file(CreateFileA(wininit, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    FileHandle created = CreateNew(wininit);
    if (!created.valid()) return 0;
    const int n =
        std::snprintf(line, sizeof line, "%s\r\n%s%s\r\n", kRenameHeader, kNulKey, shortPath);
    return WriteAll(write, created.get(), line, static_cast<DWORD>(n)) ? 1 : 0;
  }

  DWORD sizeHigh = 0;
  const DWORD size = GetFileSize(file.get(), &sizeHigh);
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
  if (sizeHigh != 0 || size > MAXDWORD - SPARE_BYTES) return 0;
  const DWORD blockSize = size + SPARE_BYTES;
  PrivateHeap heap(HeapCreate(HEAP_NO_SERIALIZE, blockSize, 0));
  if (!heap.valid()) return 0;
  char* text = static_cast<char*>(HeapAlloc(heap.get(), HEAP_ZERO_MEMORY, blockSize));
  if (!text) return 0;
  DWORD read = 0;
  if (!ReadFile(file.get(), text, size, &read, nullptr) || read != size) return 0;

  char* header = FindRenameHeader(text);
  if (!header) {
    // A last line without a line break stays as it is; the section starts below it.
    const bool breakFirst = size > 0 && text[size - 1] != '\n';
    heap.reset();
    if (breakFirst && !WriteAll(write, file.get(), "\r\n", 2)) return 0;
    const int n =
        std::snprintf(line, sizeof line, "%s\r\n%s%s\r\n", kRenameHeader, kNulKey, shortPath);
    return WriteAll(write, file.get(), line, static_cast<DWORD>(n)) ? 1 : 0;
  }
  file.reset();

  char* at = SectionStart(header);
  while (*at && *at != '[') {
    if (RecordsPath(at, shortPath)) return 1;
    at = const_cast<char*>(NextLine(at));
  }
  // At the end of the text a last line without a line break gets one first.
  const bool breakFirst = !*at && at[-1] != '\n';
  const int n =
      std::snprintf(line, sizeof line, "%s%s%s\r\n", breakFirst ? "\r\n" : "", kNulKey, shortPath);
  const size_t tail = std::strlen(at) + 1;  // with the zero byte
  if (n < 0 || static_cast<size_t>(at - text) + n + tail > blockSize) return 0;
  std::memmove(at + n, at, tail);
  std::memcpy(at, line, n);
  return RewriteWithBackup(wininit, text, write) ? 1 : 0;
}
