#include "drvfixup/driver_fixup.h"

#include "drvfixup/fixup_registry.h"
#include "platform/win32/reg_key.h"

void RemoveDriverSettings(HKEY root) {
  for (const RegFixupStep& step : REG_FIXUP_STEPS) {
    {
      RegKey key;
      if (key.Open(root, step.key, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        for (size_t i = 0; i < step.valueCount; ++i) RegDeleteValueA(key.get(), step.values[i]);
      }
    }  // closed before its deletion
    RegDeleteKeyA(root, step.key);
  }
}
