// The agent's Windows Installer packages (scripts/package msi): the firewall
// rule as the tables carry it (Wine has no firewall to look at), and the
// package of the prefix's architecture installed, repaired, upgraded and
// removed by Wine's msiexec in a fresh prefix, the agent serving on its PORT.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "log/log_test_support.h"

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const std::string kSource = ORVEL_SOURCE_DIR;
const char kAgentKey[] = "SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent";
const char kServiceKey[] = "System\\CurrentControlSet\\Services\\ORVEL Nimbrel";
const char kEventSourceKey[] =
    "System\\CurrentControlSet\\Services\\EventLog\\Application\\ORVEL Nimbrel";
const char kProgramDir[] = "C:\\Program Files\\ORVEL\\Nimbrel\\Agent\\";
// Two public keys, as an administrator replacing one gives them.
const char kManagerKey[] =
    "BHE9k3gFfYXxwdu9X/0uwavWMFmMqvYNMy959UqLo1SF8OEC7ydN5NjD8220uiRWydnGGkjlhDhg+fnbXnvq1bg=, "
    "BCiFdxmn0+D9tKjYjFpi4JCSRerJJtBAUNZmXFQAtfxNiLUta20C3KEN+1WQPeSyq9Kq9LLS3TkaQ65cVARMUWk=";

// The package of an architecture, built once per run.
std::string Package(const std::string& arch) {
  static const bool built = [] {
    const e2e::RunResult r = e2e::Run({kSource + "/scripts/package", "msi"}, 600000);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    return r.exit_code == 0;
  }();
  return built ? kSource + "/build/package/orvel-nimbrel-agent-" ORVEL_VERSION "-" + arch + ".msi" : "";
}

// A table as msiinfo exports it: a row a line, its fields tab-separated.
std::string Table(const std::string& msi, const char* table) {
  std::string out = e2e::Run({"msiinfo", "export", msi, table}, 30000).out;
  out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
  return out;
}

bool HasRow(const std::string& table, const std::string& row) {
  return table.find("\n" + row + "\n") != std::string::npos;
}

// Deferred (0x400) or rollback (0x100), as the system (0x800), exit code
// ignored (0x40), the program that NETSH names (50): the rule deleted after
// the old version's removal, added after the service start, each undone by
// its rollback; FIREWALL=0 skips. The tables Wine does not act on: the log
// folders' ACL, the service's recovery actions.
TEST(AgentPackage, TablesCarryWhatWineDoesNotShow) {
  for (const char* arch : {"x64", "x86"}) {
    SCOPED_TRACE(arch);
    const std::string msi = Package(arch);
    ASSERT_FALSE(msi.empty());
    const std::string actions = Table(msi, "CustomAction"),
                      sequence = Table(msi, "InstallExecuteSequence"),
                      ui = Table(msi, "InstallUISequence"),
                      rule = "NETSH\tadvfirewall firewall delete rule name=\"ORVEL Nimbrel Agent\" "
                             "program=\"[INSTALLDIR]PWRAGENT.exe\"\t",
                      add = "NETSH\tadvfirewall firewall add rule name=\"ORVEL Nimbrel Agent\" "
                            "program=\"[INSTALLDIR]PWRAGENT.exe\" dir=in action=allow protocol=TCP "
                            "enable=yes localport=[";
    EXPECT_TRUE(HasRow(actions, "FirewallAdd\t3186\t" + add +
                                "PORT] profile=[FWPROFILE] remoteip=[FWREMOTEIP]\t"));
    EXPECT_TRUE(HasRow(actions, "FirewallDeleteUndo\t2162\t" + add +
                                "OLDPORT] profile=[FWOLDPROFILE] remoteip=[FWOLDREMOTEIP]\t"));
    EXPECT_TRUE(HasRow(actions, "FirewallDelete\t3186\t" + rule));
    EXPECT_TRUE(HasRow(actions, "FirewallAddUndo\t2162\t" + rule));
    EXPECT_TRUE(HasRow(actions, "FindNetsh\t2099\tNETSH\t[SystemFolder]netsh.exe\t"));
    EXPECT_TRUE(HasRow(actions, "NetshWords\t2049\tOrvelMsi\tNetshWords\t"));
    const std::string replaced = "FIREWALL<>\"0\" AND (Installed OR WIX_UPGRADE_DETECTED)",
                      added =
                          "FIREWALL<>\"0\" AND NOT REMOVE~=\"ALL\" AND FWREMOTEIP AND FWPROFILE";
    for (const std::string& row : Texts
         {"InstallInitialize\t\t1500", "RemoveExistingProducts\t\t1501",
          "FirewallDeleteUndo\t" + replaced + " AND FWOLDREMOTEIP AND FWOLDPROFILE\t1502",
          "FirewallDelete\t" + replaced + "\t1503", "MsiConfigureServices\tVersionNT\t5850",
          "StartServices\tVersionNT\t5900", "FirewallAddUndo\t" + added + "\t5998",
          "FirewallAdd\t" + added + "\t5999", "InstallFinalize\t\t6600"}) {
      EXPECT_TRUE(HasRow(sequence, row)) << row;
    }
    // With a UI, its own AppSearch runs first: the given values saved and put back there too.
    for (const char* row : {"SavePort\tPORT\t41", "SaveAllowed\tALLOWEDMANAGERS\t42",
                            "SaveProfile\tFIREWALLPROFILE\t45", "AppSearch\t\t50",
                            "RestorePort\tCMDLINE_PORT\t51", "RestoreAllowed\tCMDLINE_ALLOWED\t52",
                            "RestoreProfile\tCMDLINE_PROFILE\t55",
                            "KeepInstallDir\tOLDPATHNAME AND NOT INSTALLDIR\t59",
                            "DefaultPort\tNOT PORT\t61", "LaunchConditions\t\t100"}) {
      EXPECT_TRUE(HasRow(ui, row)) << row;
    }
    const std::string locks = Table(msi, "MsiLockPermissionsEx"),
                      folders = Table(msi, "CreateFolder");
    for (const std::string& dir : Texts{"LOGFILEPATH", "DATANIMBRELDIR", "DATAORVELDIR"}) {
      EXPECT_TRUE(HasRow(folders, dir + "\tLogFolder")) << dir;
      EXPECT_TRUE(HasRow(locks, "Lock" + dir + "\t" + dir + "\tCreateFolder\tO:BAG:SYD:P"
                                "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)\t")) << dir;
    }
    // At install and reinstall (1 + 4): restart after 60 s thrice, the count reset after a day.
    EXPECT_TRUE(HasRow(Table(msi, "MsiServiceConfigFailureActions"),
                       "AgentRestart\tORVEL Nimbrel\t5\t86400\t\t\t1[~]1[~]1\t"
                       "60000[~]60000[~]60000\tAgent"));
    // The message that Windows shows and logs when PORT fails the install.
    EXPECT_TRUE(HasRow(Table(msi, "LaunchCondition"),
                       "REMOVE~=\"ALL\" OR (PORT >= 1 AND PORT <= 65535)\t"
                       "PORT must be a number from 1 to 65535."));
    EXPECT_TRUE(HasRow(Table(msi, "LaunchCondition"),
                       "REMOVE~=\"ALL\" OR (COUNTDOWN >= 0 AND COUNTDOWN <= 9999)\t"
                       "COUNTDOWN must be a number of seconds from 0 to 9999, 0 for none."));
  }
}

class AgentPackageUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    arch_ = e2e::WineArch(kSource) == "win64" ? "x64" : "x86";
    msi_ = Package(arch_);
    ASSERT_FALSE(msi_.empty());
    // A fresh prefix: an install left by an earlier run would be upgraded.
    const std::string dir = kSource + "/build/wine/msi-e2e";
    fs::remove_all(dir + "-" + e2e::WineArch(kSource));
    // A display for the reduced UI (/qr).
    xvfb_ = std::make_unique<e2e::Xvfb>(dir + ".xvfb.log");
    ASSERT_FALSE(xvfb_->display.empty()) << "Xvfb did not start";
    prefix_ = std::make_unique<e2e::WinePrefix>(kSource, dir, xvfb_->display);
    ASSERT_TRUE(prefix_->Start());
    drive_c_ = fs::path(prefix_->dir()) / "drive_c";
    fs::copy_file(msi_, drive_c_ / "agent.msi");
    // No services entry: the port comes from the key alone.
    logtest::WriteAll((drive_c_ / "windows/system32/drivers/etc/services").string(), "");
  }

  e2e::RunResult Wine(const Texts& args) const { return prefix_->Wine(args, 180000); }

  // A key's own values as "NAME TYPE DATA" lines, in name order.
  std::set<std::string> Values(const std::string& key) const {
    std::set<std::string> values;
    for (const std::string& line : e2e::RegLines(*prefix_, key)) {
      if (line.rfind(key + " ", 0) == 0) values.insert(line.substr(key.size() + 1));
    }
    return values;
  }

  fs::path Unix(const std::string& windows_path) const {
    std::string p = windows_path.substr(3);
    for (char& c : p) c = c == '\\' ? '/' : c;
    return drive_c_ / p;
  }

  std::string arch_, msi_;
  fs::path drive_c_;
  std::unique_ptr<e2e::Xvfb> xvfb_;
  std::unique_ptr<e2e::WinePrefix> prefix_;
};

TEST_F(AgentPackageUnderWine, InstallsServesOnItsPortKeepsItsValuesAndRemovesCleanly) {
  const uint16_t port = e2e::FreePort();
  ASSERT_NE(port, 0);
  const std::string logs = "C:\\AgentLogs\\";
  const fs::path trace = Unix(logs) / "QX_WOL_A.LOG";
  const bool countdown = fs::exists(e2e::WinBinDir(kSource) + "/PWRCOUNT.exe");

  // A bad PORT or COUNTDOWN ends the install before anything is written
  // (Wine logs no launch-condition text; the table test checks the message).
  e2e::RunResult r;
  for (const char* bad : {"PORT=65536", "COUNTDOWN=10000"}) {
    r = Wine({"msiexec", "/i", "C:\\agent.msi", "/qn", bad});
    EXPECT_EQ(r.exit_code, 1603 & 0xff) << bad << r.out;  // a Linux exit code keeps the low byte
  }
  EXPECT_TRUE(Values(kAgentKey).empty());
  EXPECT_TRUE(Values(kServiceKey).empty());
  EXPECT_FALSE(fs::exists(Unix(kProgramDir)));

  r = Wine({"msiexec", "/i", "C:\\agent.msi", "/qn", "PORT=" + std::to_string(port),
            "ALLOWEDMANAGERS=127.0.0.1", "MANAGERKEY=" + std::string(kManagerKey), "COUNTDOWN=30",
            "LOGFILEPATH=" + logs});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::set<std::string> installed = {
      std::string("Pathname REG_SZ ") + kProgramDir,
      "LogFilePath REG_SZ " + logs,
      "Port REG_SZ " + std::to_string(port),
      "AllowedManagers REG_SZ 127.0.0.1",
      "ManagerKey REG_SZ " + std::string(kManagerKey),
      "Countdown REG_SZ 30",  // read back by a repair or an upgrade
      "FirewallProfile REG_SZ domain,private",
      std::string("CountdownCmd REG_SZ \"") + kProgramDir + "PWRCOUNT.exe\" 30"};
  EXPECT_EQ(Values(kAgentKey), installed);
  const std::set<std::string> service = Values(kServiceKey);
  for (const std::string& v : Texts{"Start REG_DWORD 0x2", "Type REG_DWORD 0x10",  // automatic, own process
                               "ObjectName REG_SZ LocalSystem",
                               // Wine writes the path unquoted, as REG_SZ.
                               "ImagePath REG_SZ " + std::string(kProgramDir) + "PWRAGENT.exe"}) {
    EXPECT_EQ(service.count(v), 1u) << v;
  }
  // The Event Log's source: its messages in the program, three event types.
  EXPECT_EQ(Values(kEventSourceKey), (std::set<std::string>{"TypesSupported REG_DWORD 0x7",
            "EventMessageFile REG_EXPAND_SZ " + std::string(kProgramDir) + "PWRAGENT.exe"}));
  EXPECT_TRUE(fs::exists(Unix(kProgramDir) / "PWRAGENT.exe"));
  EXPECT_EQ(fs::exists(Unix(kProgramDir) / "PWRCOUNT.exe"), countdown);

  // Started by the install, on PORT with no services entry, logging where LOGFILEPATH said.
  ASSERT_TRUE(e2e::WaitFor([&] {
    for (const std::string& t : logtest::LogTexts(trace)) {
      if (t.rfind("accept OK", 0) == 0) return true;
    }
    return false;
  }, 30000)) << "the agent does not listen";
  // Wine's NetBIOS gives no adapter address, so the agent knows no MAC.
  uint16_t serving = port;
  const auto serves = [&] {
    const std::string target = "127.0.0.1:" + std::to_string(serving);
    r = e2e::Run({kSource + "/build/native/bin/pwrctl", "mac", target}, 30000);
    return r.exit_code == 1 && r.out.find("(status 2)") != std::string::npos;
  };
  EXPECT_TRUE(serves()) << r.out;

  // A repair without properties writes the values again from what the key held.
  r = Wine({"msiexec", "/i", "C:\\agent.msi", "/qn", "REINSTALL=ALL", "REINSTALLMODE=amus"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Values(kAgentKey), installed);
  EXPECT_TRUE(e2e::WaitFor([&] { return serves(); }, 30000)) << "not after the repair";

  // A rebuilt package has a new product code: it upgrades the installed one
  // in place, reading the values back as the repair did.
  ASSERT_EQ(e2e::Run({kSource + "/scripts/package", "msi"}, 600000).exit_code, 0);
  fs::copy_file(msi_, drive_c_ / "rebuilt.msi");
  r = Wine({"msiexec", "/i", "C:\\rebuilt.msi", "/qn"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Values(kAgentKey), installed);
  EXPECT_TRUE(e2e::WaitFor([&] { return serves(); }, 30000)) << "not after the upgrade";

  // With the reduced UI, whose AppSearch runs before the execute sequence,
  // the values given still win over the key's.
  serving = e2e::FreePort();
  r = Wine({"msiexec", "/i", "C:\\rebuilt.msi", "/qr", "REINSTALL=ALL", "REINSTALLMODE=amus",
            "PORT=" + std::to_string(serving), "ALLOWEDMANAGERS=127.0.0.0/8",
            "FIREWALLPROFILE=domain"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::set<std::string> given = Values(kAgentKey);
  for (const std::string& v : Texts{"Port REG_SZ " + std::to_string(serving),
                                    "AllowedManagers REG_SZ 127.0.0.0/8",
                                    "FirewallProfile REG_SZ domain"}) {
    EXPECT_EQ(given.count(v), 1u) << v;
  }
  EXPECT_TRUE(e2e::WaitFor([&] { return serves(); }, 30000)) << "not after the reduced-UI repair";

  r = Wine({"msiexec", "/x", "C:\\rebuilt.msi", "/qn"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Values(kAgentKey).empty()) << "the key is left";
  EXPECT_TRUE(Values(kServiceKey).empty()) << "the service is left";
  EXPECT_TRUE(e2e::RegLines(*prefix_, kEventSourceKey).empty()) << "the event source is left";
  EXPECT_FALSE(fs::exists(Unix("C:\\Program Files\\ORVEL\\"))) << "a program folder is left";
  // The logs stay, with the stop of the removal as their last line.
  const Texts left = logtest::LogTexts(trace);
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(left.back(), "ORVEL/TAV Agent End");
  const auto count = [&](const char* prefix) {
    return std::count_if(left.begin(), left.end(),
                         [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
  };
  EXPECT_EQ(count("Error Port"), 0);
  EXPECT_EQ(count("Error getservbyname()"), 0);
}

}  // namespace
