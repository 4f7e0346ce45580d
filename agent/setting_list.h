// Settings that list entries separated by commas (AllowedManagers,
// ManagerKey): one walk over the entries and one read at start-up, so that
// both fail closed in the same way.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

// Calls take(begin, end) for each entry of text in turn, spaces and tabs
// around it trimmed. An entry that take refuses, or that does not end within
// the first max_bytes bytes (a value cut short would be a different list),
// ends the walk: false, with the entry as written copied into first_bad, cut
// to first_bad_size with its NUL. text must not be empty.
bool ForEachListEntry(const char* text, size_t max_bytes,
                      const std::function<bool(const char*, const char*)>& take, char* first_bad,
                      size_t first_bad_size);

// Reads the agent key's value `name` into *value, "" when absent. False when
// it is longer than max_bytes, traced as "Error NAME : over N bytes": such a
// value must not pass for an absent one.
bool ReadListSetting(const char* name, size_t max_bytes, std::vector<char>* value);
