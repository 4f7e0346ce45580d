// The words netsh takes for the agent's firewall rule, from the values an
// administrator gives the package.
#pragma once

#include <string>
#include <string_view>

// Characters of an ALLOWEDMANAGERS entry (192.168.0.5, 192.168.0.0/24) and of
// a FIREWALLPROFILE word (domain, private, public).
constexpr std::string_view kAddressChars = "0123456789./";
constexpr std::string_view kProfileChars =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// VALUE's comma-separated entries with the blanks around each dropped, joined
// by commas alone ("192.168.0.0/24, 10.1.2.3" gives "192.168.0.0/24,10.1.2.3");
// FALLBACK when VALUE is blank; empty (no rule) when an entry is empty or
// holds a character outside ALLOWED, so no netsh word is ever split or added.
std::string NetshList(std::string_view value, std::string_view allowed, std::string_view fallback);
