// The registry settings of the power-off driver service HALTGATE that the
// fix-up removes, below HKEY_LOCAL_MACHINE, as data: each step opens its key,
// deletes the named values in order, closes it, then deletes the key.
#pragma once

#include <cstddef>
#include <iterator>

constexpr const char REG_HALTGATE_KEY[] = "System\\CurrentControlSet\\Services\\HALTGATE";
constexpr const char REG_HALTGATE_ENUM_KEY[] = "System\\CurrentControlSet\\Services\\HALTGATE\\Enum";

constexpr const char* REG_HALTGATE_ENUM_VALUES[] = {"0", "Count", "NextInstance"};
constexpr const char* REG_HALTGATE_VALUES[] = {"ErrorControl", "Start", "Type", "SSCode"};

struct RegFixupStep {
  const char* key;
  const char* const* values;
  size_t valueCount;
};

// The subkey first: a key that still has a subkey cannot be deleted.
constexpr RegFixupStep REG_FIXUP_STEPS[] = {
    {REG_HALTGATE_ENUM_KEY, REG_HALTGATE_ENUM_VALUES, std::size(REG_HALTGATE_ENUM_VALUES)},
    {REG_HALTGATE_KEY, REG_HALTGATE_VALUES, std::size(REG_HALTGATE_VALUES)},
};
