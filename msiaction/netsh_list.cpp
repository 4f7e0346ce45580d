#include "msiaction/netsh_list.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string NetshList(std::string_view value, std::string_view allowed, std::string_view fallback) {
  if (Trimmed(value).empty()) return std::string(fallback);
  std::string list;
  for (;;) {
    const size_t comma = value.find(',');
    const std::string_view entry = Trimmed(value.substr(0, comma));
    if (entry.empty() || entry.find_first_not_of(allowed) != std::string_view::npos) return "";
    if (!list.empty()) list += ',';
    list += entry;
    if (comma == std::string_view::npos) return list;
    value.remove_prefix(comma + 1);
  }
}
