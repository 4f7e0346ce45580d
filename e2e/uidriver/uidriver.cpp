// uidriver: drives the dialogs of another program in the same Wine prefix
// for the end-to-end tests. Texts are read as the ANSI programs see them
// (code page 932) and printed as UTF-8 and as hexadecimal bytes.
//
//   uidriver wait    dialog|msgbox CAPTION [TIMEOUT_MS]   found: exit 0
//   uidriver gone    dialog|msgbox CAPTION [TIMEOUT_MS]   none left: exit 0
//   uidriver list    dialog|msgbox CAPTION                the window and its controls
//   uidriver click   dialog|msgbox CAPTION ID             BM_CLICK on the button
//   uidriver key     dialog|msgbox CAPTION esc|enter      a key to the focused control
//   uidriver close   dialog|msgbox CAPTION                the close box (SC_CLOSE)
//   uidriver version FILE                                 the version resource
//
// A message box is a #32770 window with the static text of id 0xFFFF; a
// dialog is any other #32770 window. Exit code 0 on success, 1 when the
// window is not found, 2 on bad arguments.
#include <windows.h>
// after windows.h, which it needs
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr LONG_PTR kMessageTextId = 0xFFFF;

std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

std::wstring FromCodePage(UINT cp, const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[8];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "\\x%02x", c);
    out += buf;
  }
  return out;
}

// The window text as the ANSI program holds it: code page 932 bytes.
std::string TextA(HWND hwnd) {
  char buf[1024] = {};
  int n = GetWindowTextA(hwnd, buf, sizeof buf);
  return std::string(buf, n > 0 ? n : 0);
}

std::string ClassName(HWND hwnd) {
  char buf[256] = {};
  GetClassNameA(hwnd, buf, sizeof buf);
  return buf;
}

bool HasMessageText(HWND hwnd) {
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetWindowLongPtrA(c, GWLP_ID) == kMessageTextId) return true;
  }
  return false;
}

struct Search {
  bool msgbox;
  std::string caption;  // CP932
  HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param) {
  Search* s = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(hwnd) || ClassName(hwnd) != "#32770") return TRUE;
  if (TextA(hwnd) != s->caption || HasMessageText(hwnd) != s->msgbox) return TRUE;
  s->found = hwnd;
  return FALSE;
}

HWND Find(bool msgbox, const std::string& caption) {
  Search s{msgbox, caption, nullptr};
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND WaitFor(bool msgbox, const std::string& caption, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND h = Find(msgbox, caption)) return h;
    if (GetTickCount() - start >= timeout_ms) return nullptr;
    Sleep(100);
  }
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Fields(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& f : fields) {
    if (!line.empty()) line += '\t';
    line += f;
  }
  return line;
}

std::string Num(long long v) { return std::to_string(v); }

std::string HexNum(unsigned long v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08lx", v);
  return buf;
}

// window  CLASS STYLE EXSTYLE CLIENT_W CLIENT_H OWNER_HEX HEX TEXT
// control CLASS ID STYLE EXSTYLE X Y W H HEX TEXT [icon=0|1]
void List(HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  const std::string text = TextA(hwnd);
  HWND owner = GetWindow(hwnd, GW_OWNER);
  Print(Fields({"window", ClassName(hwnd), HexNum(GetWindowLongA(hwnd, GWL_STYLE)),
                HexNum(GetWindowLongA(hwnd, GWL_EXSTYLE)), Num(client.right), Num(client.bottom),
                owner ? Hex(TextA(owner)) : "-", Hex(text), ToUtf8(FromCodePage(932, text))}));
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    const LONG style = GetWindowLongA(c, GWL_STYLE);
    const std::string t = TextA(c);
    std::string line = Fields({"control", ClassName(c), Num(static_cast<int>(GetWindowLongPtrA(c, GWLP_ID))),
                               HexNum(style), HexNum(GetWindowLongA(c, GWL_EXSTYLE)), Num(r.left),
                               Num(r.top), Num(r.right - r.left), Num(r.bottom - r.top), Hex(t),
                               ToUtf8(FromCodePage(932, t))});
    if (ClassName(c) == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
      const bool shown = (style & WS_VISIBLE) && SendMessageA(c, STM_GETICON, 0, 0) != 0;
      line += shown ? "\ticon=1" : "\ticon=0";
    }
    Print(line);
  }
}

int Version(const std::wstring& file) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (!size) return 1;
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return 1;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                  fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                  fixed->dwFileVersionLS & 0xFFFF);
    Print(Fields({"FileVersionNumber", buf}));
    std::snprintf(buf, sizeof buf, "%lu.%lu.%lu.%lu", fixed->dwProductVersionMS >> 16,
                  fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16,
                  fixed->dwProductVersionLS & 0xFFFF);
    Print(Fields({"ProductVersionNumber", buf}));
  }
  struct Translation {
    WORD language, codepage;
  }* tr = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr),
                      &len) ||
      len < sizeof *tr) {
    return 1;
  }
  wchar_t block[64];
  swprintf(block, 64, L"%04x%04x", tr->language, tr->codepage);
  Print(Fields({"Translation", ToUtf8(block)}));
  for (const wchar_t* name : {L"FileDescription", L"FileVersion", L"OriginalFilename",
                              L"ProductVersion", L"ProductName", L"InternalName"}) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
    wchar_t* value = nullptr;
    if (VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &len) &&
        value) {
      Print(Fields({ToUtf8(name), ToUtf8(value)}));
    }
  }
  return 0;
}

void PostKey(HWND hwnd, UINT vk) {
  GUITHREADINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  HWND target = hwnd;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) && info.hwndFocus) {
    target = info.hwndFocus;
  }
  PostMessageA(target, WM_KEYDOWN, vk, 1);
  PostMessageA(target, WM_KEYUP, vk, 1 | (3u << 30));
}

int Usage() {
  std::fputs("usage: uidriver wait|gone|list|click|key|close dialog|msgbox CAPTION [ARG]\n"
             "       uidriver version FILE\n",
             stderr);
  return 2;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  // Wide arguments: the captions come from Linux as UTF-8, whatever the ANSI page.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 3) return Usage();
  const std::wstring command = argv[1];
  if (command == L"version") return Version(argv[2]);
  if (argc < 4) return Usage();
  const std::wstring kind = argv[2];
  if (kind != L"dialog" && kind != L"msgbox") return Usage();
  const bool msgbox = kind == L"msgbox";
  const std::wstring wcaption = argv[3];
  std::string caption(wcaption.size() * 2 + 1, '\0');
  caption.resize(WideCharToMultiByte(932, 0, wcaption.c_str(), -1, &caption[0],
                                     static_cast<int>(caption.size()), nullptr, nullptr) - 1);
  const DWORD timeout = argc > 4 ? static_cast<DWORD>(_wtoi(argv[4])) : 10000;

  if (command == L"gone") {
    const DWORD start = GetTickCount();
    while (Find(msgbox, caption)) {
      if (GetTickCount() - start >= timeout) return 1;
      Sleep(100);
    }
    return 0;
  }
  HWND hwnd = WaitFor(msgbox, caption, command == L"wait" ? timeout : 10000);
  if (!hwnd) {
    std::fputs("uidriver: window not found\n", stderr);
    return 1;
  }
  if (command == L"wait") return 0;
  if (command == L"list") {
    List(hwnd);
    return 0;
  }
  if (command == L"close") {
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
  }
  if (argc < 5) return Usage();
  if (command == L"click") {
    HWND button = GetDlgItem(hwnd, _wtoi(argv[4]));
    if (!button || !IsWindowEnabled(button)) {
      std::fputs("uidriver: no such button\n", stderr);
      return 1;
    }
    PostMessageA(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == L"key") {
    const std::wstring key = argv[4];
    if (key != L"esc" && key != L"enter") return Usage();
    PostKey(hwnd, key == L"esc" ? VK_ESCAPE : VK_RETURN);
    return 0;
  }
  return Usage();
}
