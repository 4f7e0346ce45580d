// uidriver: reads and drives the dialog or the message box of another
// program in the same Wine prefix, for the end-to-end tests.
//
//   uidriver dialog|msgbox [click ID | key esc|enter | close]
//   uidriver version FILE
//
// Waits up to 15 s for the window, prints it and its controls, then acts.
// A message box is a #32770 window with the static text of id 0xFFFF; a
// dialog is any other #32770 window. Texts are printed as the ANSI program
// holds them (code page 932 bytes), one tab-separated line a window:
//   window  STYLE EXSTYLE CLIENT_W CLIENT_H OWNER_TEXT|- TEXT
//   control CLASS ID STYLE X Y W H ICON_SHOWN(0|1) TEXT
// Exit code 0 on success, 1 when the window or button is not found, 2 on
// bad arguments.
#include <windows.h>
// after windows.h, which it needs
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string TextA(HWND hwnd) {
  char buf[1024] = {};
  return std::string(buf, std::max(GetWindowTextA(hwnd, buf, sizeof buf), 0));
}

std::string ClassName(HWND hwnd) {
  char buf[256] = {};
  GetClassNameA(hwnd, buf, sizeof buf);
  return buf;
}

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param) {
  auto* want = reinterpret_cast<std::pair<bool, HWND>*>(param);
  bool message = false;
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    message |= GetWindowLongPtrA(c, GWLP_ID) == 0xFFFF;
  }
  if (!IsWindowVisible(hwnd) || ClassName(hwnd) != "#32770" || message != want->first) return TRUE;
  want->second = hwnd;
  return FALSE;
}

void List(HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  HWND owner = GetWindow(hwnd, GW_OWNER);
  std::printf("window\t%08lx\t%08lx\t%ld\t%ld\t%s\t%s\n", GetWindowLongA(hwnd, GWL_STYLE),
              GetWindowLongA(hwnd, GWL_EXSTYLE), client.right, client.bottom,
              owner ? TextA(owner).c_str() : "-", TextA(hwnd).c_str());
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    const LONG style = GetWindowLongA(c, GWL_STYLE);
    const bool icon = ClassName(c) == "Static" && (style & SS_TYPEMASK) == SS_ICON &&
                      (style & WS_VISIBLE) && SendMessageA(c, STM_GETICON, 0, 0) != 0;
    std::printf("control\t%s\t%d\t%08lx\t%ld\t%ld\t%ld\t%ld\t%d\t%s\n", ClassName(c).c_str(),
                static_cast<int>(GetWindowLongPtrA(c, GWLP_ID)), style, r.left, r.top,
                r.right - r.left, r.bottom - r.top, icon, TextA(c).c_str());
  }
}

// FILEVERSION, PRODUCTVERSION and the translation; then the strings.
int Version(const char* file) {
  DWORD ignored = 0;
  std::vector<char> data(GetFileVersionInfoSizeA(file, &ignored));
  VS_FIXEDFILEINFO* v = nullptr;
  WORD* tr = nullptr;  // language, code page
  UINT len = 0;
  if (data.empty() || !GetFileVersionInfoA(file, 0, static_cast<DWORD>(data.size()), data.data()) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&v), &len) ||
      !VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr),
                      &len)) {
    return 1;
  }
  std::printf("%lu.%lu.%lu.%lu %lu.%lu.%lu.%lu %04x%04x\n", v->dwFileVersionMS >> 16,
              v->dwFileVersionMS & 0xFFFF, v->dwFileVersionLS >> 16, v->dwFileVersionLS & 0xFFFF,
              v->dwProductVersionMS >> 16, v->dwProductVersionMS & 0xFFFF,
              v->dwProductVersionLS >> 16, v->dwProductVersionLS & 0xFFFF, tr[0], tr[1]);
  for (const char* name : {"FileDescription", "FileVersion", "OriginalFilename", "ProductVersion",
                           "ProductName", "InternalName"}) {
    char path[128], *value = nullptr;
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", tr[0], tr[1], name);
    if (VerQueryValueA(data.data(), path, reinterpret_cast<void**>(&value), &len) && value) {
      std::printf("%s=%s\n", name, value);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc == 3 && std::strcmp(argv[1], "version") == 0) return Version(argv[2]);
  if (argc < 2 || (std::strcmp(argv[1], "dialog") != 0 && std::strcmp(argv[1], "msgbox") != 0)) {
    std::fputs("usage: uidriver dialog|msgbox [click ID | key esc|enter | close]\n", stderr);
    return 2;
  }
  std::pair<bool, HWND> want(std::strcmp(argv[1], "msgbox") == 0, nullptr);
  for (const DWORD start = GetTickCount(); !want.second && GetTickCount() - start < 15000;) {
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&want));
    if (!want.second) Sleep(100);
  }
  HWND hwnd = want.second;
  if (!hwnd) return 1;
  List(hwnd);
  const std::string action = argc > 2 ? argv[2] : "", arg = argc > 3 ? argv[3] : "";
  if (action == "click") {
    HWND button = GetDlgItem(hwnd, std::atoi(arg.c_str()));
    if (!button || !IsWindowEnabled(button)) return 1;
    PostMessageA(button, BM_CLICK, 0, 0);
  } else if (action == "key" && (arg == "esc" || arg == "enter")) {
    // To the control with the focus, as the keyboard would send it.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND focus = GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) && info.hwndFocus
                     ? info.hwndFocus
                     : hwnd;
    const WPARAM vk = arg == "esc" ? VK_ESCAPE : VK_RETURN;
    PostMessageA(focus, WM_KEYDOWN, vk, 1);
    PostMessageA(focus, WM_KEYUP, vk, 1 | (3u << 30));
  } else if (action == "close") {
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (!action.empty()) {
    return 2;
  }
  return 0;
}
