// The agent package's custom action (an immediate one, run before the
// firewall actions are scheduled): netsh's words for the rule, from the
// properties given or read back from the agent key. An empty result leaves
// the rule out; it never widens it.
#include <windows.h>
#include <msiquery.h>

#include <string>

#include "msiaction/netsh_list.h"

namespace {

std::string Property(MSIHANDLE install, const char* name) {
  std::string value(256, '\0');
  DWORD size = static_cast<DWORD>(value.size());
  UINT rc = MsiGetPropertyA(install, name, &value[0], &size);
  if (rc == ERROR_MORE_DATA) {  // size is now the length without the NUL
    value.resize(++size);
    rc = MsiGetPropertyA(install, name, &value[0], &size);
  }
  value.resize(rc == ERROR_SUCCESS ? size : 0);
  return value;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall NetshWords(MSIHANDLE install) {
  const struct { const char *from, *to; std::string_view allowed, fallback; } words[] = {
      {"ALLOWEDMANAGERS", "FWREMOTEIP", kAddressChars, "localsubnet"},
      {"OLDALLOWEDMANAGERS", "FWOLDREMOTEIP", kAddressChars, "localsubnet"},
      {"FIREWALLPROFILE", "FWPROFILE", kProfileChars, "domain,private"},
      {"OLDFIREWALLPROFILE", "FWOLDPROFILE", kProfileChars, "domain,private"},
  };
  for (const auto& w : words) {
    const std::string list = NetshList(Property(install, w.from), w.allowed, w.fallback);
    if (MsiSetPropertyA(install, w.to, list.c_str()) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}
