#include "msiaction/netsh_list.h"

#include <gtest/gtest.h>

namespace {

TEST(NetshList, EntriesJoinedByCommasAloneFallbackWhenBlankEmptyWhenBad) {
  const struct { const char* value; const char* list; } cases[] = {
      {"192.168.0.0/24, 10.1.2.3", "192.168.0.0/24,10.1.2.3"}, {"10.1.2.3", "10.1.2.3"},
      {" \t10.1.2.3 ,\t10.0.0.0/8 ", "10.1.2.3,10.0.0.0/8"}, {"", "localsubnet"},
      {" \t ", "localsubnet"}, {"10.1.2.3,", ""}, {",10.1.2.3", ""}, {"10.1.2.3,,10.0.0.1", ""},
      {"10.1.2.3 10.0.0.1", ""},  // two entries without their comma are not one
      {"10.1.2.3\" enable=no", ""}, {"any", ""}, {"10.0.0.1-10.0.0.9", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NetshList(c.value, kAddressChars, "localsubnet"), c.list) << c.value;
  }
  EXPECT_EQ(NetshList("Domain, private", kProfileChars, "domain,private"), "Domain,private");
  EXPECT_EQ(NetshList("private public", kProfileChars, "domain,private"), "");
}

}  // namespace
