// uidriver: reads and drives the dialog or the message box of another
// program in the same Wine prefix, for the end-to-end tests.
//
//   uidriver dialog|owned|msgbox [click ID | key esc|enter|CHAR | close]
//   uidriver browse [PATH|cancel]
//   uidriver volatile-key KEY     creates HKEY_LOCAL_MACHINE\KEY volatile
//
// Waits up to 15 s for the window, prints it and its controls, then acts.
// A message box is a #32770 window whose text is a static of id 0xFFFF
// that shows "&" as it is (SS_NOPREFIX; a template's statics of id -1 do
// not); a dialog is any other #32770 window that no window owns (a
// program's main dialog), an owned one is one that another window owns.
// Only an enabled one counts: a window under a modal box or dialog of its
// own is disabled. The folder browser (SHBrowseForFolder) is a #32770
// window with a tree view, which only `browse` takes: it selects the folder
// PATH and presses OK, or presses Cancel. Texts are printed as the ANSI
// program holds them (code page 932 bytes, with a backslash, line feed,
// carriage return and tab written as \\, \n, \r and \t), one tab-separated
// line a window:
//   window  STYLE EXSTYLE CLIENT_W CLIENT_H OWNER_TEXT|- TEXT CLIENT_SCREEN_X CLIENT_SCREEN_Y
//   control CLASS ID STYLE X Y W H ICON_SHOWN(0|1) TEXT
// where a progress bar's TEXT is its position and top, POS/MAX.
// Exit code 0 on success, 1 when the window, button or folder is not
// found, 2 on bad arguments.
#include <windows.h>
// after windows.h, which they need
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string TextA(HWND hwnd) {
  char buf[1024] = {};
  const int n = std::max(GetWindowTextA(hwnd, buf, sizeof buf), 0);
  std::string text;
  // Byte by byte: a trail byte 0x5C is doubled too, and comes back whole.
  for (int i = 0; i < n; ++i) {
    const char* escaped = buf[i] == '\\'   ? "\\\\"
                          : buf[i] == '\n' ? "\\n"
                          : buf[i] == '\r' ? "\\r"
                          : buf[i] == '\t' ? "\\t"
                                           : nullptr;
    if (escaped) {
      text += escaped;
    } else {
      text += buf[i];
    }
  }
  return text;
}

std::string ClassName(HWND hwnd) {
  char buf[256] = {};
  GetClassNameA(hwnd, buf, sizeof buf);
  return buf;
}

enum class Kind { kDialog, kOwned, kMessageBox, kBrowser };

struct Wanted {
  Kind kind;
  HWND found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param) {
  auto* want = reinterpret_cast<Wanted*>(param);
  bool message = false, tree = false;
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    message |= (GetWindowLongPtrA(c, GWLP_ID) & 0xFFFF) == 0xFFFF && ClassName(c) == "Static" &&
               (GetWindowLongA(c, GWL_STYLE) & SS_NOPREFIX);
    tree |= ClassName(c) == WC_TREEVIEWA;
  }
  if (!IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd) || ClassName(hwnd) != "#32770" ||
      tree != (want->kind == Kind::kBrowser) ||
      (want->kind != Kind::kBrowser && message != (want->kind == Kind::kMessageBox)) ||
      ((want->kind == Kind::kDialog || want->kind == Kind::kOwned) &&
       (want->kind == Kind::kOwned) != (GetWindow(hwnd, GW_OWNER) != nullptr))) {
    return TRUE;
  }
  want->found = hwnd;
  return FALSE;
}

void List(HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  POINT origin = {0, 0};  // on the screen, to find controls in a screenshot
  ClientToScreen(hwnd, &origin);
  HWND owner = GetWindow(hwnd, GW_OWNER);
  std::printf("window\t%08lx\t%08lx\t%ld\t%ld\t%s\t%s\t%ld\t%ld\n", GetWindowLongA(hwnd, GWL_STYLE),
              GetWindowLongA(hwnd, GWL_EXSTYLE), client.right, client.bottom,
              owner ? TextA(owner).c_str() : "-", TextA(hwnd).c_str(), origin.x, origin.y);
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    const LONG style = GetWindowLongA(c, GWL_STYLE);
    const bool icon = ClassName(c) == "Static" && (style & SS_TYPEMASK) == SS_ICON &&
                      (style & WS_VISIBLE) && SendMessageA(c, STM_GETICON, 0, 0) != 0;
    // A progress bar has no text: its position and top instead, "POS/MAX".
    const std::string text =
        ClassName(c) == PROGRESS_CLASSA
            ? std::to_string(SendMessageA(c, PBM_GETPOS, 0, 0)) + "/" +
                  std::to_string(SendMessageA(c, PBM_GETRANGE, FALSE, 0))
            : TextA(c);
    std::printf("control\t%s\t%d\t%08lx\t%ld\t%ld\t%ld\t%ld\t%d\t%s\n", ClassName(c).c_str(),
                static_cast<int>(GetWindowLongPtrA(c, GWLP_ID)), style, r.left, r.top,
                r.right - r.left, r.bottom - r.top, icon, text.c_str());
  }
}

// A copy of a string in the process that owns a window, for a message whose
// pointer that process reads: Wine passes such a pointer as it is.
class RemoteString {
 public:
  RemoteString(HWND hwnd, const std::string& text) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    if (!process_) return;
    address_ = VirtualAllocEx(process_, nullptr, text.size() + 1, MEM_COMMIT | MEM_RESERVE,
                              PAGE_READWRITE);
    if (address_ &&
        !WriteProcessMemory(process_, address_, text.c_str(), text.size() + 1, nullptr)) {
      VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
      address_ = nullptr;
    }
  }
  RemoteString(const RemoteString&) = delete;
  RemoteString& operator=(const RemoteString&) = delete;
  ~RemoteString() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  LPARAM get() const { return reinterpret_cast<LPARAM>(address_); }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
};

// Selects the folder in the browser the way its own callback would; the
// selection is cleared first, so that a folder the browser cannot show
// leaves none. Typing into the tree view would depend on what the desktop
// holds, and does nothing while no item is selected.
bool SelectFolder(HWND browser, const std::string& path) {
  HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
  RemoteString remote(browser, path);
  DWORD_PTR ignored = 0;
  if (!tree || !remote.get()) return false;
  // The browser fills its tree after it shows: try again for a while.
  for (const DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(100)) {
    if (!SendMessageTimeoutA(tree, TVM_SELECTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, 5000,
                             &ignored) ||
        !SendMessageTimeoutA(browser, BFFM_SETSELECTIONA, TRUE, remote.get(), SMTO_ABORTIFHUNG,
                             5000, &ignored)) {
      return false;
    }
    if (SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0) != 0) return true;
  }
  return false;
}

// Clicks the button, and for a window the click closes (a message box, the
// folder browser) waits until it is gone, so that the next step sees what
// the program does next and not this window.
bool Click(HWND window, int id, bool closes) {
  HWND button = GetDlgItem(window, id);
  if (!button || !IsWindowEnabled(button)) return false;
  PostMessageA(button, BM_CLICK, 0, 0);
  for (const DWORD start = GetTickCount(); closes && IsWindow(window); Sleep(50)) {
    if (GetTickCount() - start > 10000) return false;
  }
  return true;
}

// A volatile key: below it no lasting key can be made, as when the
// registry refuses a program's settings.
int VolatileKey(const char* path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  RegCloseKey(key);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc == 3 && std::strcmp(argv[1], "volatile-key") == 0) return VolatileKey(argv[2]);
  const std::string kind = argc > 1 ? argv[1] : "";
  if ((kind != "dialog" && kind != "owned" && kind != "msgbox" && kind != "browse") ||
      (kind == "browse" && argc > 3)) {
    std::fputs("usage: uidriver dialog|owned|msgbox [click ID | key esc|enter|CHAR | close]\n"
               "       uidriver browse [PATH|cancel]\n",
               stderr);
    return 2;
  }
  Wanted want{kind == "msgbox"   ? Kind::kMessageBox
              : kind == "owned"  ? Kind::kOwned
              : kind == "browse" ? Kind::kBrowser
                                 : Kind::kDialog};
  for (const DWORD start = GetTickCount(); !want.found && GetTickCount() - start < 15000;) {
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&want));
    if (!want.found) Sleep(100);
  }
  HWND hwnd = want.found;
  if (!hwnd) return 1;
  List(hwnd);
  if (want.kind == Kind::kBrowser) {
    if (argc == 2) return 0;  // listed only
    const bool cancel = std::strcmp(argv[2], "cancel") == 0;
    if (!cancel && !SelectFolder(hwnd, argv[2])) return 1;
    return Click(hwnd, cancel ? IDCANCEL : IDOK, true) ? 0 : 1;
  }
  const std::string action = argc > 2 ? argv[2] : "", arg = argc > 3 ? argv[3] : "";
  if (action == "click") {
    if (!Click(hwnd, std::atoi(arg.c_str()), want.kind == Kind::kMessageBox)) return 1;
  } else if (action == "key" && (arg == "esc" || arg == "enter" || arg.size() == 1)) {
    // To the control with the focus, as the keyboard would send it.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND focus = GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) && info.hwndFocus
                     ? info.hwndFocus
                     : hwnd;
    // A typed character, as TranslateMessage would make it (no Alt).
    if (arg.size() == 1) return PostMessageA(focus, WM_CHAR, static_cast<BYTE>(arg[0]), 1) ? 0 : 1;
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
