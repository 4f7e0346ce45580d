// RemoveDriverSettings against the real registry, below a scratch key that
// stands in for HKEY_LOCAL_MACHINE.
#include "drvfixup/driver_fixup.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string>

#include "drvfixup/fixup_registry.h"
#include "platform/win32/reg_key.h"

namespace {

const std::string kScratch =
    "Software\\OrvelTest\\DriverFixup" + std::to_string(GetCurrentProcessId());
const std::string kRootKey = std::string(REG_HALTGATE_ENUM_KEY) + "\\Root";

void Set(const std::string& path, const char* name) {
  HKEY key;
  const DWORD one = 1;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (kScratch + "\\" + path).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  RegCloseKey(key);
}

// The number of values of a key below the scratch key; -1 when there is no key.
long Values(const std::string& path) {
  RegKey key;
  DWORD count = 0;
  const std::string full = kScratch + "\\" + path;
  if (key.Open(HKEY_CURRENT_USER, full.c_str(), KEY_READ) != ERROR_SUCCESS) return -1;
  RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                   nullptr, nullptr, nullptr, nullptr);
  return static_cast<long>(count);
}

void InstallDriverSettings() {
  for (const RegFixupStep& step : REG_FIXUP_STEPS) {
    for (size_t i = 0; i < step.valueCount; ++i) Set(step.key, step.values[i]);
  }
}

TEST(DriverFixup, RemovesItsValuesAndEveryKeyWithoutASubkey) {
  SHDeleteKeyA(HKEY_CURRENT_USER, kScratch.c_str());
  HKEY root;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &root, nullptr), ERROR_SUCCESS);
  RemoveDriverSettings(root);
  EXPECT_EQ(Values("System"), -1) << "absent settings create nothing";
  InstallDriverSettings();
  RemoveDriverSettings(root);
  EXPECT_EQ(Values(REG_HALTGATE_KEY), -1);
  EXPECT_EQ(Values("System\\CurrentControlSet\\Services"), 0);
  InstallDriverSettings();
  Set(kRootKey, "Kept");                 // a subkey
  Set(REG_HALTGATE_KEY, "DisplayName");  // not the fix-up's to delete
  RemoveDriverSettings(root);
  EXPECT_EQ(Values(kRootKey), 1);
  EXPECT_EQ(Values(REG_HALTGATE_ENUM_KEY), 0) << "a key with a subkey stays, without its values";
  EXPECT_EQ(Values(REG_HALTGATE_KEY), 1);
  RegCloseKey(root);
  SHDeleteKeyA(HKEY_CURRENT_USER, kScratch.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\OrvelTest");  // only if now empty
}

}  // namespace
