// pwrctl's target lists and wake lists: which hosts a text names, which it
// refuses, and which MAC texts a wake takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pwrctl/targets.h"
#include "pwrctl/wake.h"

namespace {

// "pc-1" resolves to 192.168.1.1; any other name is not found.
bool Resolve(const std::string& name, uint32_t* address) {
  if (name != "pc-1") return false;
  *address = 0xC0A80101u;
  return true;
}

TEST(Targets, TextsNameTheirHostsOrAreRefusedByName) {
  const std::string long_name(256, 'a');
  const struct {
    std::vector<std::string> targets;
    std::vector<std::string> hosts;  // the first ones, in order
    size_t count;
    std::string error = "";          // a part of the message
  } cases[] = {
      {{"10.0.0.5"}, {"10.0.0.5"}, 1},
      {{"10.0.0.6/30"}, {"10.0.0.5", "10.0.0.6"}, 2},  // host bits ignored, no network/broadcast
      {{"10.0.0.0/31"}, {"10.0.0.0", "10.0.0.1"}, 2},
      {{"10.0.0.7/32"}, {"10.0.0.7"}, 1},
      {{"10.0.0.0/16"}, {"10.0.0.1", "10.0.0.2"}, 65534},
      {{"10.0.0.9", "10.0.0.2-10.0.0.3", "pc-1", "10.0.0.3/32", "10.0.0.2"},
       {"10.0.0.2", "10.0.0.3", "10.0.0.9", "192.168.1.1"}, 4},
      {{"0.0.0.0-0.0.255.255"}, {"0.0.0.0"}, 65536},
      {{"0.0.0.0-0.1.0.0"}, {}, 0, "\"0.0.0.0-0.1.0.0\": a range of more than 65,536"},
      {{"10.0.0.0/16", "10.1.0.0/29"}, {}, 0, "\"10.1.0.0/29\": the targets name more than 65,536"},
      {{"10.0.0.0/15"}, {}, 0, "\"10.0.0.0/15\": a network wider than /16"},
      {{"10.0.0.9-10.0.0.7"}, {}, 0, "ends before it starts"},
      {{"10.0.0.1", "1.2.3"}, {}, 0, "\"1.2.3\": not an IPv4 address"},
      {{"01.2.3.4"}, {}, 0, "not an IPv4 address"},
      {{"256.1.1.1"}, {}, 0, "not an IPv4 address"},
      {{"1.2.3.4/33"}, {}, 0, "beyond /32"},
      {{"1.2.3.4/"}, {}, 0, "not a network"},
      {{"1.2.3.4/016"}, {}, 0, "not a network"},
      {{"1.2.3.4-"}, {}, 0, "not a range"},
      {{"nohost"}, {}, 0, "\"nohost\": host not found"},
      {{"a b"}, {}, 0, "not an address, network"},
      {{"@list"}, {}, 0, "not an address, network"},  // no file within a file
      {{""}, {}, 0, "not an address, network"},
      {{long_name}, {}, 0, "...: a target longer than 255"},
      // A host's own port; the same address with and without one is two hosts.
      {{"pc-1:80", "10.0.0.5:50123", "10.0.0.5", "10.0.0.5:65535", "10.0.0.5:1"},
       {"10.0.0.5", "10.0.0.5:1", "10.0.0.5:50123", "10.0.0.5:65535", "192.168.1.1:80"}, 5},
      {{"10.0.0.5:0"}, {}, 0, "\"10.0.0.5:0\": not a port 1 to 65535"},
      {{"10.0.0.5:65536"}, {}, 0, "\"10.0.0.5:65536\": not a port"},
      {{"10.0.0.5:"}, {}, 0, "not a port"},
      {{"10.0.0.5:080"}, {}, 0, "not a port"},
      {{"pc-1:+80"}, {}, 0, "not a port"},
      {{"nohost:80"}, {}, 0, "\"nohost:80\": host not found"},
      {{":80"}, {}, 0, "not an address, network"},
      {{"1.2.3:80"}, {}, 0, "not an IPv4 address"},
      // Networks and ranges take their port from -p only.
      {{"10.0.0.0/30:80"}, {}, 0, "not a network"},
      {{"10.0.0.1-10.0.0.2:80"}, {}, 0, "not a range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.targets.back().substr(0, 40));
    std::vector<TargetHost> hosts;
    std::string error;
    const bool ok = ParseTargets(c.targets, Resolve, &hosts, &error);
    EXPECT_EQ(ok, c.error.empty());
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (!ok) continue;
    EXPECT_EQ(hosts.size(), c.count);
    for (size_t i = 0; i < c.hosts.size() && i < hosts.size(); ++i) {
      EXPECT_EQ(FormatIpv4(hosts[i].address) +
                    (hosts[i].port ? ":" + std::to_string(hosts[i].port) : ""),
                c.hosts[i]);
    }
  }
}

TEST(Targets, FilesGiveTheirFirstWordsAndWakeListsTheirMacs) {
  const std::string table =
      "# saved scan\n\n10.0.0.1         00-11-22-AB-CD-EF\n10.0.0.2         timed out\n"
      "  pc-1\r\n001122334455\n10.0.0.3 no MAC known\n10.0.0.4:50123  refused\n";
  EXPECT_EQ(TargetFileLines(table),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "pc-1", "001122334455", "10.0.0.3",
                                      "10.0.0.4:50123"}));
  // A saved table's own ports: its lines are targets again, the port with its host.
  std::vector<TargetHost> hosts;
  std::string error;
  EXPECT_TRUE(ParseTargets({"10.0.0.4:50123", "10.0.0.4", "10.0.0.1"}, Resolve, &hosts, &error));
  SetDefaultPort(&hosts, 50123);
  EXPECT_EQ(hosts, (std::vector<TargetHost>{{0x0A000001u, 50123}, {0x0A000004u, 50123}}));
  const std::vector<WakeRow> rows = WakeFileRows(table);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].address + " " + rows[0].mac, "10.0.0.1 00-11-22-AB-CD-EF");
  EXPECT_EQ(rows[1].address + " " + rows[1].mac, " 001122334455");
}

// pwrctl_test checks the magic packet's bytes.
TEST(Wake, EachNotationGivesTheSameMac) {
  for (const char* text : {"00-11-22-AB-CD-EF", "00:11:22:ab:cd:ef", "001122AbCdEf"}) {
    uint8_t mac[6];
    EXPECT_TRUE(ParseMac(text, mac) && FormatMac(mac) == "00-11-22-AB-CD-EF") << text;
  }
  for (const char* text : {"00-11:22-AB-CD-EF", "00-11-22-AB-CD-E", "0011223344", "00112233445G",
                           "00-11-22-AB-CD-EF0", "00.11.22.AB.CD.EF", ""}) {
    uint8_t mac[6];
    EXPECT_FALSE(ParseMac(text, mac)) << text;
  }
}

}  // namespace
