// DRVFIXUP under Wine: the real program, the real Wine registry, its dialog
// and message boxes read through the UI driver, its exit code from wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "e2e/ui.h"

namespace {

using e2e::Driver;
using e2e::Rows;
using e2e::Texts;

const std::string kSource = ORVEL_SOURCE_DIR;
std::string Bin() { return e2e::WinBinDir(kSource); }
const char kDriverKey[] = "HKLM\\System\\CurrentControlSet\\Services\\HALTGATE";

const char kCaption[] = "ORVEL Nimbrel WindowsXP対応";
const char kRestart[] = "設定を有効にするには、コンピュータを再起動する必要があります。";
const char kNotXp[] = "このプログラムは、WindowsXP上でなければ動作できません。";

// The driver's settings as the driver's installation leaves them.
const char kSettings[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE]\r\n"
    "\"ErrorControl\"=dword:00000001\r\n"
    "\"Start\"=dword:00000003\r\n"
    "\"Type\"=dword:00000001\r\n"
    "\"SSCode\"=hex:5a,1c,00,07\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE\\Enum]\r\n"
    "\"0\"=\"Root\\\\LEGACY_HALTGATE\\\\0000\"\r\n"
    "\"Count\"=dword:00000001\r\n"
    "\"NextInstance\"=dword:00000001\r\n\r\n";
// A subkey of Enum, and a value that is not the fix-up's to delete.
const char kEnumRoot[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE\\Enum\\Root]\r\n"
    "\"Kept\"=dword:00000007\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE]\r\n"
    "\"DisplayName\"=\"HALTGATE\"\r\n\r\n";
// `reg query /s` after a run that met Enum\Root: both keys stay, with only
// the values that are not the fix-up's.
const char kEnumLeft[] =
    "\r\nHKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE\r\n"
    "    DisplayName    REG_SZ    HALTGATE\r\n\r\n"
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE\\Enum\r\n\r\n"
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE\\Enum\\Root\r\n"
    "    Kept    REG_DWORD    0x7\r\n\r\n";

// The dialog, unowned and on the task bar.
void ExpectTheDialog(const std::vector<Texts>& rows) {
  e2e::ExpectDialog(rows, kCaption, 175, 61,
                    {{"Static", "-1", "50020000", 7, 7, 161, 11,
                      "WindowsXP用にプログラムの設定を変更します。"},
                     {"Static", "-1", "50020000", 7, 21, 161, 11, "よろしいですか？"},
                     {"Button", "1", "50010001", 23, 40, 50, 14, "OK"},  // the default
                     {"Button", "2", "50010000", 102, 40, 50, 14, "ｷｬﾝｾﾙ"}});
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0][5], "-") << "owned by another window";
  EXPECT_EQ(std::stoul(rows[0][2], nullptr, 16) & 0x00040000, 0x00040000u);  // WS_EX_APPWINDOW
}

struct Case {
  const char* name;
  std::string keys;     // the driver's settings before the run
  const char* version;  // the Windows version the program is shown ("": the prefix's own)
  Texts action;         // on the dialog
  const char* message;  // the message box then shown; nullptr: none
  int exit_code;
  const char* keys_after;  // `reg query /s` afterwards; "": no key; nullptr: as before
};

const Case kCases[] = {
    {"ok", kSettings, "", {"click", "1"}, kRestart, 0, ""},
    {"nothing-to-delete", "", "", {"click", "1"}, kRestart, 0, ""},
    {"enum-root", kSettings + std::string(kEnumRoot), "", {"click", "1"}, kRestart, 0, kEnumLeft},
    {"cancel", kSettings, "", {"click", "2"}, nullptr, 0, nullptr},
    // Refused after the dialog, with the stop icon.
    {"win98", kSettings, "win98", {"click", "1"}, kNotXp, 2, nullptr},
    {"nt40", kSettings, "nt40", {"click", "1"}, kNotXp, 2, nullptr},
    {"win2k-enter", kSettings, "win2k", {"key", "enter"}, kRestart, 0, ""},
};

class DrvfixupUnderWine : public e2e::DesktopSuite {
 protected:
  static void SetUpTestSuite() { ASSERT_NO_FATAL_FAILURE(StartDesktop("drvfixup")); }

  // `reg query /s` of the driver's key; "" when there is no key.
  static std::string DriverKeys() {
    const e2e::RunResult r = Wine({"reg", "query", kDriverKey, "/s"});
    return r.exit_code == 0 ? r.out : "";
  }
};

// The registry as each case gives it, DRVFIXUP run to its end through the
// dialog and the message box, the registry read back.
TEST_F(DrvfixupUnderWine, DeletesTheDriverSettingsOnceConfirmed) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(prefix_->ImportRegistry(
        "REGEDIT4\r\n\r\n"
        "[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE]\r\n\r\n" + c.keys +
        e2e::AppDefaults("DRVFIXUP.exe", c.version)));
    const std::string before = DriverKeys();
    ASSERT_EQ(before.empty(), c.keys.empty()) << "the settings were not imported";

    e2e::Background fixup =
        prefix_->WineInBackground({Bin() + "/DRVFIXUP.exe"}, prefix_->dir() + ".drvfixup.log");
    ExpectTheDialog(Rows(Driver(*prefix_, {"dialog"}).out));  // on any system
    Shot("drvfixup-dialog");
    Texts act = c.action;
    act.insert(act.begin(), "dialog");
    ASSERT_EQ(Driver(*prefix_, act).exit_code, 0);
    if (c.message) {
      AnswerBox(kCaption, kCaption, c.message, c.message == kNotXp ? "red" : "",
                std::string("drvfixup-") + (c.message == kNotXp ? "refused" : "restart"));
    }
    // A message box left open would keep the program from ending.
    int code = -1;
    ASSERT_TRUE(fixup.Wait(20000, &code)) << "the program did not end";
    EXPECT_EQ(code, c.exit_code);
    EXPECT_EQ(DriverKeys(), c.keys_after ? c.keys_after : before);
  }
}

}  // namespace
