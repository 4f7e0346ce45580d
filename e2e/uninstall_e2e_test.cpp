// AGTREMOV under Wine: the real program in the agent's folder, the real
// service manager, registry and files of one prefix. Each case sets up an
// installed agent as the table gives it, drives the dialogs and message boxes
// through the UI driver, and reads back everything the removal may touch.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "e2e/ui.h"

namespace {

namespace fs = std::filesystem;
using e2e::Driver;
using e2e::Rows;
using e2e::Texts;
using State = std::set<std::string>;

const std::string kSource = ORVEL_SOURCE_DIR;
std::string Bin() { return e2e::WinBinDir(kSource); }

const char kTitle[] = "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ";
const char kMainCaption[] = "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄの削除";

// A message box: its text, the colour of its icon, its screenshot. The
// warning carries the exclamation icon, every failure the stop icon.
struct Message {
  const char *text, *icon, *shot;
};
const Message kNotNt = {"このプログラムは Windows NT 上でなければ動作できません.", "red", "not-nt"};
// A stalled stop leaves no error code; it is reported as the service
// manager's time-out (1053), not as 0.
const Message kServiceFailed = {
    "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ サービスの削除に失敗しました.\nエラーコード：1053", "red",
    "service-failed"};
const Message kInUse = {
    "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ の削除に失敗しました.\nプログラムが実行中である可能性があります.",
    "red", "in-use"};
const Message kIncomplete = {
    "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ のレジストリ情報が\n見つからないため、レジストリ情報は削除できませんでした.",
    "yellow", "warning"};

// The three dialogs, as their templates give them.
void ExpectMainDialog(const std::vector<Texts>& rows) {
  e2e::ExpectDialog(rows, kMainCaption, 212, 68,
                    {{"Button", "2", "50030001", 81, 46, 50, 14, "ｷｬﾝｾﾙ(&C)"},  // the default
                     {"Button", "57670", "50010000", 151, 46, 50, 14, "ﾍﾙﾌﾟ(&H)"},
                     {"Button", "1", "50010000", 11, 46, 50, 14, "削除(&D)"},
                     {"Static", "65535", "50020000", 40, 12, 144, 17,
                      "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄの\n削除を開始します."},
                     {"Static", "65535", "50000003", 10, 10, 0, 0, ""}});
}
void ExpectHelpDialog(const std::vector<Texts>& rows) {
  e2e::ExpectDialog(rows, "ﾍﾙﾌﾟ:削除", 273, 60,
                    {{"Button", "1", "50010001", 102, 39, 50, 14, "OK(&K)"},
                     {"Static", "65535", "50000003", 4, 12, 0, 0, ""},
                     {"Static", "65535", "50020000", 25, 11, 246, 28,
                      "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄを削除する場合は［削除］を、\n"
                      "削除を中止する場合は［ｷｬﾝｾﾙ］を選択してください."}});
  EXPECT_EQ(rows.at(0).at(5), kMainCaption) << "not owned by the main dialog";
}
void ExpectDoneDialog(const std::vector<Texts>& rows) {
  e2e::ExpectDialog(rows, "削除完了", 212, 84,
                    {{"Button", "1", "50010001", 80, 65, 50, 14, "OK(&K)"},
                     {"Static", "65535", "50020000", 39, 10, 163, 20,
                      "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄの\n設定を削除しました."},
                     {"Static", "65535", "50000003", 10, 10, 0, 0, ""},
                     {"Static", "65535", "50020000", 17, 35, 185, 20,
                      "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄの処理を再開するには、再度 ｲﾝｽﾄｰﾙしてください."}});
  EXPECT_EQ(rows.at(0).at(5), kMainCaption) << "not owned by the main dialog";
}

const char kService[] = "ORVEL Nimbrel";
const char kShutdownService[] = "ORVEL Nimbrel Shutdown";

// ---- The registry of an installed agent, in pieces a case puts together.

const char kAgentHead[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent]\r\n";
const char* const kAgentValues[] = {
    "\"Pathname\"=\"C:\\\\ORVEL\\\\Agent\"\r\n", "\"Version\"=\"1.04\"\r\n",
    "\"LogFilePath\"=\"C:\\\\ORVEL\\\\Log\"\r\n",
    "\"CountdownCmd\"=\"C:\\\\ORVEL\\\\Agent\\\\COUNT.EXE 30\"\r\n",
    "\"MachineType\"=dword:00000001\r\n"};
std::string Agent(int without = -1) {
  std::string s = kAgentHead;
  for (int i = 0; i < 5; ++i) s += i == without ? "" : kAgentValues[i];
  return s + "\r\n";
}
const char kManager[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Manager]\r\n"
    "\"Pathname\"=\"C:\\\\WAKEDESK\"\r\n\r\n";
const char kNimbrelOther[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Other]\r\n\r\n";
const char kOtherProduct[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Product2]\r\n\r\n";
std::string DriverKey(bool type, bool sscode) {
  return std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\HALTGATE]\r\n"
                     "\"ErrorControl\"=dword:00000001\r\n\"Start\"=dword:00000003\r\n") +
         (type ? "\"Type\"=dword:00000001\r\n" : "") + (sscode ? "\"SSCode\"=hex:5a,1c\r\n" : "") +
         "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\HALTGATE\\Enum]\r\n"
         "\"0\"=\"Root\\\\LEGACY_HALTGATE\\\\0000\"\r\n\"Count\"=dword:00000001\r\n"
         "\"NextInstance\"=dword:00000001\r\n\r\n";
}
const char kUninstallEntry[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "ORVEL Nimbrel Agent]\r\n"
    "\"DisplayName\"=\"ORVEL Nimbrel Agent\"\r\n"
    "\"UninstallString\"=\"C:\\\\ORVEL\\\\Agent\\\\AGTREMOV.EXE\"\r\n\r\n";
const std::string kInstalled = Agent() + DriverKey(true, true) + kUninstallEntry;

// Every key a case may create or the removal may touch, emptied before a case.
const char kReset[] =
    "REGEDIT4\r\n\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTREX]\r\n\r\n"
    "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\HALTGATE]\r\n\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "ORVEL Nimbrel Agent]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon]\r\n"
    "\"PowerdownAfterShutdown\"=-\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager]\r\n"
    "\"PendingFileRenameOperations\"=-\r\n\r\n";

const char kList[] =
    "[QXWOL Agent Files]\r\nFile1=PWRAGENT.EXE\r\nFile2=QXLIB.DLL\r\nFile3=agtremov.exe\r\n";

// The agent's files (below drive_c) before every case.
const char kDriverFile[] = "windows/system32/drivers/HALTGATE.SYS";
const char* const kFiles[] = {"ORVEL/Agent/PWRAGENT.EXE", "ORVEL/Agent/QXLIB.DLL",
                              "ORVEL/Log/QX_WOL_A.LOG",   "ORVEL/Log/TAVANLOG.TXT",
                              "ORVEL/Agent/QX_WOL_A.LOG", kDriverFile};

enum Service { kAbsent, kStopped, kRunning, kStalls, kSlow };
// As the case gives it; the same with PWRAGENT.EXE held open by another
// process; or on what the case before left, with nothing set up.
enum Setup { kFresh, kHeld, kAsLeft };

struct Case {
  const char* name;
  Service services[2];   // "ORVEL Nimbrel", "ORVEL Nimbrel Shutdown"
  std::string registry;  // REGEDIT4 keys over the reset
  const char* list;      // AGTREMOV.INF; nullptr: none
  const char* version;   // the Windows the program is shown ("": the prefix's own)
  Setup setup;
  std::vector<Texts> steps;  // uidriver commands on the dialogs, in order
  const Message* message;    // then this message box; nullptr: none
  bool done;             // then the completion dialog
  State left;            // what is left afterwards, or one of the two below
};

// The uninstaller's own file, to be deleted at the next restart (no new name).
const char kPending[] =
    "Session Manager PendingFileRenameOperations REG_MULTI_SZ "
    "\\??\\C:\\ORVEL\\Agent\\agtremov.exe\\0";
const State kUnchanged = {"as before"};
const State kServicesGone = {"as before, without the services"};
// After a full removal: the uninstaller itself (deleted at restart) and what
// is not the agent's.
const State kRemoved = {
    "file ORVEL/Agent/AGTREMOV.EXE",
    "file ORVEL/Agent/AGTREMOV.INF",
    "file ORVEL/Agent/QX_WOL_A.LOG",
    kPending,
    "Winlogon PowerdownAfterShutdown REG_SZ 0",
};
State With(State s, const State& more, const State& less = {}) {
  s.insert(more.begin(), more.end());
  for (const std::string& x : less) s.erase(x);
  return s;
}

const Texts kRemove = {"dialog", "click", "1"};
const std::vector<Case> kCases = {
    // Both services running; the driver key without SSCode, which is no warning.
    {"full", {kRunning, kRunning}, Agent() + DriverKey(true, false) + kUninstallEntry, kList, "",
     kFresh, {kRemove}, nullptr, true, kRemoved},
    // Services stopped, the manager installed: no warning, Nimbrel is not
    // even tried.
    {"manager", {kStopped, kStopped}, Agent() + kManager + DriverKey(true, true), kList, "",
     kFresh, {kRemove}, nullptr, true,
     With(kRemoved, {"reg SOFTWARE\\VANTREX", "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER",
                     "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel",
                     "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Manager",
                     "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Manager Pathname REG_SZ "
                     "C:\\WAKEDESK"})},
    // An agent value missing (CountdownCmd): the key still goes, with the warning.
    {"no-countdown", {kAbsent, kAbsent}, Agent(3) + DriverKey(true, true), kList, "", kFresh,
     {kRemove}, &kIncomplete, true, kRemoved},
    // No manager, but ORVEL_MANAGER holds another product: it stays, with
    // VANTREX, and without a warning.
    {"other-product", {kAbsent, kAbsent}, kInstalled + kOtherProduct, kList, "", kFresh,
     {kRemove}, nullptr, true,
     With(kRemoved, {"reg SOFTWARE\\VANTREX", "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER",
                     "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Product2"})},
    // No manager, but Nimbrel holds another key: it stays, with the warning.
    {"nimbrel-other", {kAbsent, kAbsent}, kInstalled + kNimbrelOther, kList, "", kFresh,
     {kRemove}, &kIncomplete, true,
     With(kRemoved, {"reg SOFTWARE\\VANTREX", "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER",
                     "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel",
                     "reg SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Other"})},
    // The driver key without Type, no uninstall entry.
    {"driver-no-type", {kAbsent, kStopped}, Agent() + DriverKey(false, true), kList, "", kFresh,
     {kRemove}, &kIncomplete, true, kRemoved},
    // No agent key and no driver key: the program's folder serves for both
    // directories, and PowerdownAfterShutdown is left alone.
    {"no-agent-key", {kAbsent, kAbsent}, kUninstallEntry, kList, "", kFresh, {kRemove},
     &kIncomplete, true,
     With(kRemoved, {"file ORVEL/Log/QX_WOL_A.LOG", "file ORVEL/Log/TAVANLOG.TXT"},
          {"file ORVEL/Agent/QX_WOL_A.LOG", "Winlogon PowerdownAfterShutdown REG_SZ 0"})},
    {"no-list", {kAbsent, kAbsent}, kInstalled, nullptr, "", kFresh, {kRemove}, nullptr, true,
     With(kRemoved, {"file ORVEL/Agent/PWRAGENT.EXE", "file ORVEL/Agent/QXLIB.DLL"},
          {"file ORVEL/Agent/AGTREMOV.INF", kPending})},
    // The agent's program held open: both services are gone, nothing else.
    {"in-use", {kStopped, kStopped}, kInstalled, kList, "", kHeld, {kRemove}, &kInUse, false,
     kServicesGone},
    // A second run finishes what the first could not.
    {"in-use-again", {}, "", kList, "", kAsLeft, {kRemove}, nullptr, true, kRemoved},
    // Enter goes to ｷｬﾝｾﾙ; help opens and closes any number of times.
    {"enter", {kRunning, kStopped}, kInstalled, kList, "", kFresh, {{"dialog", "key", "enter"}},
     nullptr, false, kUnchanged},
    {"help-then-esc", {kStopped, kStopped}, kInstalled, kList, "", kFresh,
     {{"dialog", "click", "57670"}, {"owned", "click", "1"}, {"dialog", "click", "57670"},
      {"owned", "key", "enter"}, {"dialog", "key", "esc"}},
     nullptr, false, kUnchanged},
    {"close-box", {kStopped, kStopped}, kInstalled, kList, "", kFresh, {{"dialog", "close"}},
     nullptr, false, kUnchanged},
    {"win98", {kRunning, kRunning}, kInstalled, kList, "win98", kFresh, {kRemove}, &kNotNt, false,
     kUnchanged},
    // A stop that takes 12 s of the 15 s it asked for, its check point never
    // rising, is waited for.
    {"slow-stop", {kSlow, kRunning}, kInstalled, kList, "", kFresh, {kRemove}, nullptr, true,
     kRemoved},
    // A stop whose check point does not rise within its wait hint (3 s) has
    // stalled, and nothing is removed. Last: the stalled service cannot be
    // deleted while its process lives.
    {"stalls", {kStalls, kRunning}, kInstalled, kList, "", kFresh, {kRemove}, &kServiceFailed,
     false, kUnchanged},
};

class UninstallUnderWine : public e2e::DesktopSuite {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NO_FATAL_FAILURE(StartDesktop("uninstall"));
    CopyToFixtures("uninstall_fixture.exe");
  }

  static bool ServiceExists(const char* name) { return Wine({"sc", "query", name}).exit_code == 0; }

  static void SetUpServices(const Service (&services)[2]) {
    const char* names[] = {kService, kShutdownService};
    for (int i = 0; i < 2; ++i) {
      Wine({"sc", "stop", names[i]});
      Wine({"sc", "delete", names[i]});
      ASSERT_TRUE(e2e::WaitFor([&] { return !ServiceExists(names[i]); }, 20000))
          << names[i] << " cannot be deleted";
      if (services[i] == kAbsent) continue;
      const char* mode = services[i] == kStalls ? " stalls" : services[i] == kSlow ? " slow" : "";
      const std::string bin = std::string("C:\\fixture\\uninstall_fixture.exe service") + mode;
      ASSERT_EQ(Wine({"sc", "create", names[i], "binPath=", bin}).exit_code, 0);
      if (services[i] == kStopped) continue;
      Wine({"sc", "start", names[i]});
      ASSERT_TRUE(e2e::WaitFor(
          [&] { return Wine({"sc", "query", names[i]}).out.find("RUNNING") != std::string::npos; },
          20000))
          << names[i] << " does not run";
    }
  }

  static void SetUpFiles(const Case& c) {
    fs::remove_all(C() / "ORVEL");
    for (const char* f : kFiles) {
      fs::create_directories((C() / f).parent_path());
      std::ofstream(C() / f, std::ios::binary) << f;
    }
    fs::copy_file(Bin() + "/AGTREMOV.exe", C() / "ORVEL/Agent/AGTREMOV.EXE");
    if (c.list) std::ofstream(C() / "ORVEL/Agent/AGTREMOV.INF", std::ios::binary) << c.list;
  }

  // A key's tree as "reg KEY" and "reg KEY NAME TYPE DATA" lines; or one
  // value as "LABEL NAME TYPE DATA".
  static void AddRegistry(State* s, const std::string& key, const char* value = nullptr,
                          const std::string& label = "") {
    for (const std::string& line : RegLines(key, value ? value : "")) {
      s->insert(value ? label + line.substr(key.size()) : "reg " + line);
    }
  }

  // Everything the removal may touch: services, keys, files, pending deletions.
  static State Snapshot() {
    State s;
    for (const char* name : {kService, kShutdownService}) {
      if (ServiceExists(name)) s.insert(std::string("service ") + name);
    }
    AddRegistry(&s, "SOFTWARE\\VANTREX");
    AddRegistry(&s, "SYSTEM\\CurrentControlSet\\Services\\HALTGATE");
    AddRegistry(&s, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEL Nimbrel Agent");
    AddRegistry(&s, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                "PowerdownAfterShutdown", "Winlogon");
    AddRegistry(&s, "System\\CurrentControlSet\\Control\\Session Manager",
                "PendingFileRenameOperations", "Session Manager");
    for (const auto& e : fs::recursive_directory_iterator(C() / "ORVEL")) {
      if (e.is_regular_file()) s.insert("file " + fs::relative(e.path(), C()).generic_string());
    }
    if (fs::exists(C() / kDriverFile)) s.insert(std::string("file ") + kDriverFile);
    return s;
  }
};

std::string Joined(const State& s) {
  std::string out;
  for (const std::string& x : s) out += x + "\n";
  return out;
}

TEST_F(UninstallUnderWine, RemovesTheAgentAsFarAsItCan) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.setup != kAsLeft) {
      SetUpServices(c.services);
      SetUpFiles(c);
      ASSERT_TRUE(prefix_->ImportRegistry(kReset + c.registry +
                                          e2e::AppDefaults("AGTREMOV.EXE", c.version)));
    }
    std::optional<e2e::Background> holder;
    if (c.setup == kHeld) {
      const std::string log = prefix_->dir() + ".hold.log";
      holder.emplace(prefix_->WineInBackground(
          {"C:\\fixture\\uninstall_fixture.exe", "hold", "C:\\ORVEL\\Agent\\PWRAGENT.EXE"}, log));
      ASSERT_TRUE(e2e::WaitFor([&] { return logtest::ReadAll(log).find("held") != std::string::npos; },
                               20000))
          << "the file is not held";
    }
    const State before = Snapshot();

    e2e::Background agtremov = prefix_->WineInBackground({"C:\\ORVEL\\Agent\\AGTREMOV.EXE"},
                                                         prefix_->dir() + ".agtremov.log");
    for (const Texts& step : c.steps) {
      const std::vector<Texts> rows = Rows(Driver(*prefix_, {step[0]}).out);
      Shot(step[0] == "dialog" ? "agtremov-main" : "agtremov-help");
      if (step[0] == "dialog") ExpectMainDialog(rows);
      if (step[0] == "owned") ExpectHelpDialog(rows);
      ASSERT_EQ(Driver(*prefix_, step).exit_code, 0);
    }
    if (c.message) {
      AnswerBox(kTitle, kMainCaption, c.message->text, c.message->icon,
                std::string("agtremov-") + c.message->shot);
    }
    if (c.done) {
      // A slow service stop may keep it longer than one look of the driver.
      e2e::RunResult listed;
      ASSERT_TRUE(e2e::WaitFor(
          [&] { return (listed = Driver(*prefix_, {"owned"})).exit_code == 0; }, 60000))
          << "no completion dialog";
      const std::vector<Texts> done = Rows(listed.out);
      Shot("agtremov-done");
      ExpectDoneDialog(done);
      ASSERT_EQ(Driver(*prefix_, {"owned", "key", "enter"}).exit_code, 0);
    }
    int code = -1;
    ASSERT_TRUE(agtremov.Wait(60000, &code)) << "the program did not end";
    EXPECT_EQ(code, 0);
    const State after = Snapshot();
    if (c.left == kUnchanged) {
      EXPECT_EQ(Joined(after), Joined(before));
    } else if (c.left == kServicesGone) {
      State rest = before;
      for (const char* name : {kService, kShutdownService}) {
        rest.erase(std::string("service ") + name);
      }
      EXPECT_EQ(Joined(after), Joined(rest));
    } else {
      EXPECT_EQ(Joined(after), Joined(c.left));
    }
  }
}

}  // namespace
