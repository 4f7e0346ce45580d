#include "platform/process.h"

#include <windows.h>
// after windows.h, which it needs; for its types only (the calls are looked up)
#include <wtsapi32.h>

#include <vector>

#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"

namespace platform {
namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Looked up, not imported: Windows before XP lacks the session calls, and
// the agent must still start there (it then starts the plain way). The
// library stays loaded for the life of the process.
template <class F>
F Lookup(const char* library, const char* name) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}
struct SessionCalls {
  DWORD(WINAPI* console_session)();
  BOOL(WINAPI* query_user_token)(ULONG, PHANDLE);
  BOOL(WINAPI* create_environment)(void**, HANDLE, BOOL);
  BOOL(WINAPI* destroy_environment)(void*);
  BOOL(WINAPI* enumerate_sessions)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOA*, DWORD*);
  void(WINAPI* free_memory)(void*);
  bool all() const {
    return console_session && query_user_token && create_environment && destroy_environment &&
           enumerate_sessions && free_memory;
  }
};
const SessionCalls& Calls() {
  using C = SessionCalls;
  static const SessionCalls calls = {
      Lookup<decltype(C::console_session)>("kernel32.dll", "WTSGetActiveConsoleSessionId"),
      Lookup<decltype(C::query_user_token)>("wtsapi32.dll", "WTSQueryUserToken"),
      Lookup<decltype(C::create_environment)>("userenv.dll", "CreateEnvironmentBlock"),
      Lookup<decltype(C::destroy_environment)>("userenv.dll", "DestroyEnvironmentBlock"),
      Lookup<decltype(C::enumerate_sessions)>("wtsapi32.dll", "WTSEnumerateSessionsA"),
      Lookup<decltype(C::free_memory)>("wtsapi32.dll", "WTSFreeMemory")};
  return calls;
}

struct EnvironmentBlockKind {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { Calls().destroy_environment(h); }
};
using EnvironmentBlock = UniqueHandle<EnvironmentBlockKind>;  // CreateEnvironmentBlock

}  // namespace

Process::~Process() {
  if (handle_) CloseHandle(H(handle_));
}

Process Process::Start(const char* command_line) {
  Process p;
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  GetStartupInfoA(&si);
  PROCESS_INFORMATION pi;
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> line(command_line, command_line + lstrlenA(command_line) + 1);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                      &pi)) {
    return p;
  }
  CloseHandle(pi.hThread);
  p.handle_ = reinterpret_cast<intptr_t>(pi.hProcess);
  return p;
}

bool ListSessions(SessionList* list) {
  *list = SessionList{};
  const SessionCalls& calls = Calls();
  if (!calls.all()) return false;
  list->console = calls.console_session();
  WTS_SESSION_INFOA* info = nullptr;
  DWORD count = 0;
  if (!calls.enumerate_sessions(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count)) {
    list->error = GetLastError();
    return true;
  }
  for (DWORD i = 0; i < count; ++i) {
    list->sessions.push_back({info[i].SessionId, info[i].State == WTSActive});
  }
  if (info) calls.free_memory(info);
  return true;
}

Process Process::StartInSession(uint32_t session, const char* command_line, UserStart* how) {
  *how = UserStart{};
  const SessionCalls& calls = Calls();
  if (!calls.all() || session == kNoSession) return Process();
  const auto failed = [how](const char* call) {
    how->failed_call = call;
    how->error = GetLastError();
    return Process();
  };
  HANDLE raw = nullptr;
  // ERROR_NO_TOKEN: nobody is logged on in that session.
  if (!calls.query_user_token(session, &raw)) return failed("WTSQueryUserToken");
  const ObjectHandle token(raw);
  if (!DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                        TokenPrimary, &raw)) {
    return failed("DuplicateTokenEx");
  }
  const ObjectHandle primary(raw);
  void* block = nullptr;
  if (!calls.create_environment(&block, primary.get(), FALSE)) {
    return failed("CreateEnvironmentBlock");
  }
  const EnvironmentBlock environment(block);
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  char desktop[] = "winsta0\\default";
  si.lpDesktop = desktop;
  PROCESS_INFORMATION pi;
  std::vector<char> line(command_line, command_line + lstrlenA(command_line) + 1);
  // No handles inherited: the service's sockets are no business of the user's program.
  if (!CreateProcessAsUserA(primary.get(), nullptr, line.data(), nullptr, nullptr, FALSE,
                            CREATE_UNICODE_ENVIRONMENT, environment.get(), nullptr, &si, &pi)) {
    return failed("CreateProcessAsUser");
  }
  const ObjectHandle thread(pi.hThread);
  Process p;
  p.handle_ = reinterpret_cast<intptr_t>(pi.hProcess);
  return p;
}

bool Process::valid() const { return handle_ != 0; }

bool Process::ExitCode(uint32_t* code) {
  DWORD c = 0;
  if (!GetExitCodeProcess(H(handle_), &c)) return false;
  *code = c;
  return true;
}

bool Process::Terminate() { return TerminateProcess(H(handle_), 1) != 0; }

bool Process::Wait(uint32_t timeout_ms) {
  return WaitForSingleObject(H(handle_), timeout_ms) == WAIT_OBJECT_0;
}

std::string CurrentProgramPath() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n);
}

}  // namespace platform
