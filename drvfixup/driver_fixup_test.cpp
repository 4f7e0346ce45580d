// RemoveDriverSettings against the real registry, below a scratch key that
// stands in for HKEY_LOCAL_MACHINE.
#include "drvfixup/driver_fixup.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string>

#include "drvfixup/fixup_registry.h"
#include "platform/win32/reg_key.h"

namespace {

class DriverFixupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = "Software\\OrvelTest\\DriverFixup" + std::to_string(GetCurrentProcessId());
    SHDeleteKeyA(HKEY_CURRENT_USER, scratch_.c_str());
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &root_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(root_);
    SHDeleteKeyA(HKEY_CURRENT_USER, scratch_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\OrvelTest");  // only if now empty
  }

  void SetValue(const char* key, const char* name, DWORD data) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(root_, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    RegCloseKey(k);
  }
  void InstallDriverSettings() {
    for (const RegFixupStep& step : REG_FIXUP_STEPS) {
      for (size_t i = 0; i < step.valueCount; ++i) SetValue(step.key, step.values[i], 1);
    }
  }
  bool KeyExists(const std::string& path) {
    RegKey key;
    return key.Open(root_, path.c_str(), KEY_READ) == ERROR_SUCCESS;
  }
  DWORD ValueCount(const char* path) {
    RegKey key;
    DWORD count = 0;
    if (key.Open(root_, path, KEY_READ) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                     nullptr, nullptr, nullptr, nullptr);
    return count;
  }

  std::string scratch_;
  HKEY root_ = nullptr;
};

TEST_F(DriverFixupTest, RemovesBothKeysWithTheirValues) {
  InstallDriverSettings();
  RemoveDriverSettings(root_);
  EXPECT_FALSE(KeyExists(REG_HALTGATE_KEY));
  EXPECT_TRUE(KeyExists("System\\CurrentControlSet\\Services"));
}

TEST_F(DriverFixupTest, KeysWithASubkeyStayButLoseTheirValues) {
  InstallDriverSettings();
  SetValue((std::string(REG_HALTGATE_ENUM_KEY) + "\\Root").c_str(), "Kept", 7);
  SetValue(REG_HALTGATE_KEY, "DisplayName", 3);  // not the fix-up's to delete
  RemoveDriverSettings(root_);
  ASSERT_TRUE(KeyExists(std::string(REG_HALTGATE_ENUM_KEY) + "\\Root"));
  EXPECT_EQ(ValueCount(REG_HALTGATE_ENUM_KEY), 0u);
  EXPECT_EQ(ValueCount((std::string(REG_HALTGATE_ENUM_KEY) + "\\Root").c_str()), 1u);
  EXPECT_EQ(ValueCount(REG_HALTGATE_KEY), 1u);  // DisplayName
}

TEST_F(DriverFixupTest, AbsentSettingsCreateNothing) {
  RemoveDriverSettings(root_);
  EXPECT_FALSE(KeyExists("System"));
}

}  // namespace
