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

// The texts as the program holds them, in code page 932.
const char kCaption[] =  // ORVEL Nimbrel WindowsXP対応
    "\x4f\x52\x56\x45\x4c\x20\x4e\x69\x6d\x62\x72\x65\x6c\x20\x57\x69\x6e\x64\x6f\x77\x73\x58"
    "\x50\x91\xce\x89\x9e";
const char kRestart[] =  // 設定を有効にするには、コンピュータを再起動する必要があります。
    "\x90\xdd\x92\xe8\x82\xf0\x97\x4c\x8c\xf8\x82\xc9\x82\xb7\x82\xe9\x82\xc9\x82\xcd\x81\x41"
    "\x83\x52\x83\x93\x83\x73\x83\x85\x81\x5b\x83\x5e\x82\xf0\x8d\xc4\x8b\x4e\x93\xae\x82\xb7"
    "\x82\xe9\x95\x4b\x97\x76\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81\x42";
const char kNotXp[] =  // このプログラムは、WindowsXP上でなければ動作できません。
    "\x82\xb1\x82\xcc\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x82\xcd\x81\x41\x57\x69\x6e\x64"
    "\x6f\x77\x73\x58\x50\x8f\xe3\x82\xc5\x82\xc8\x82\xaf\x82\xea\x82\xce\x93\xae\x8d\xec\x82"
    "\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42";
const char kChange[] =  // WindowsXP用にプログラムの設定を変更します。
    "\x57\x69\x6e\x64\x6f\x77\x73\x58\x50\x97\x70\x82\xc9\x83\x76\x83\x8d\x83\x4f\x83\x89\x83"
    "\x80\x82\xcc\x90\xdd\x92\xe8\x82\xf0\x95\xcf\x8d\x58\x82\xb5\x82\xdc\x82\xb7\x81\x42";
const char kSure[] =
    "\x82\xe6\x82\xeb\x82\xb5\x82\xa2\x82\xc5\x82\xb7\x82\xa9\x81\x48";  // よろしいですか？
const char kCancel[] = "\xb7\xac\xdd\xbe\xd9";                           // ｷｬﾝｾﾙ

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

// `reg query /s` of the driver's key; "" when there is no key.
std::string DriverKeys(const e2e::WinePrefix& prefix) {
  const e2e::RunResult r = prefix.Wine({"reg", "query", kDriverKey, "/s"});
  return r.exit_code == 0 ? r.out : "";
}

// The dialog, unowned and on the task bar.
void ExpectTheDialog(const std::vector<Texts>& rows) {
  e2e::ExpectDialog(rows, kCaption, 175, 61,
                    {{"Static", "-1", "50020000", 7, 7, 161, 11, kChange},
                     {"Static", "-1", "50020000", 7, 21, 161, 11, kSure},
                     {"Button", "1", "50010001", 23, 40, 50, 14, "OK"},  // the default
                     {"Button", "2", "50010000", 102, 40, 50, 14, kCancel}});
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
    {"esc", kSettings, "", {"key", "esc"}, nullptr, 0, nullptr},
    {"close-box", kSettings, "", {"close"}, nullptr, 0, nullptr},
    // Refused after the dialog, with the stop icon (see the screenshot).
    {"win98", kSettings, "win98", {"click", "1"}, kNotXp, 2, nullptr},
    {"nt40", kSettings, "nt40", {"click", "1"}, kNotXp, 2, nullptr},
    {"win2k-enter", kSettings, "win2k", {"key", "enter"}, kRestart, 0, ""},
};

// The registry as the case gives it, DRVFIXUP run to its end through the
// dialog and the message box, the registry read back.
void RunCase(const e2e::WinePrefix& prefix, const std::string& display, const Case& c) {
  std::string reg =
      "REGEDIT4\r\n\r\n"
      "[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE]\r\n\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\DRVFIXUP.exe]\r\n\r\n" +
      c.keys;
  if (*c.version) {
    reg += "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\DRVFIXUP.exe]\r\n\"Version\"=\"" +
           std::string(c.version) + "\"\r\n\r\n";
  }
  ASSERT_TRUE(prefix.ImportRegistry(reg));
  const std::string before = DriverKeys(prefix);
  ASSERT_EQ(before.empty(), c.keys.empty()) << "the settings were not imported";

  e2e::Background fixup =
      prefix.WineInBackground({Bin() + "/DRVFIXUP.exe"}, prefix.dir() + ".drvfixup.log");
  const std::string shots = kSource + "/build/screenshots/drvfixup-" + c.name;
  ExpectTheDialog(Rows(Driver(prefix, {"dialog"}).out));  // on any system
  e2e::Screenshot(display, shots + "-dialog.png");
  Texts act = c.action;
  act.insert(act.begin(), "dialog");
  ASSERT_EQ(Driver(prefix, act).exit_code, 0);
  if (c.message) {
    const std::vector<Texts> box = Rows(Driver(prefix, {"msgbox"}).out);
    e2e::Screenshot(display, shots + "-message.png");
    e2e::ExpectMessageBox(box, kCaption, kCaption, c.message, c.message == kNotXp);
    ASSERT_EQ(Driver(prefix, {"msgbox", "click", "1"}).exit_code, 0);
  }
  // A message box left open would keep the program from ending.
  int code = -1;
  ASSERT_TRUE(fixup.Wait(20000, &code)) << "the program did not end";
  EXPECT_EQ(code, c.exit_code);
  EXPECT_EQ(DriverKeys(prefix), c.keys_after ? c.keys_after : before);
}

// One prefix on a private X display for all the runs, and the version resource.
TEST(Drvfixup, UnderWine) {
  ASSERT_TRUE(std::filesystem::exists(Bin() + "/uidriver.exe"))
      << "build the Windows programs first";
  std::filesystem::create_directories(kSource + "/build/screenshots");
  const std::string base = kSource + "/build/wine/drvfixup";
  e2e::Xvfb xvfb(base + ".xvfb.log");
  ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
  e2e::WinePrefix prefix(kSource, base, xvfb.display);
  ASSERT_TRUE(prefix.Start());
  ASSERT_TRUE(e2e::PrepareDesktop(prefix));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    RunCase(prefix, xvfb.display, c);
  }
  // FILEVERSION, PRODUCTVERSION, the translation (Japanese, code page 932).
  EXPECT_EQ(Driver(prefix, {"version", Bin() + "/DRVFIXUP.exe"}).out,
            "1.0.0.1 1.0.0.1 041103a4\n"
            "FileDescription=ORVEL Nimbrel WindowsXP\x91\xce\x89\x9e\xcc\xdf\xdb\xb8\xde\xd7\xd1\n"
            "FileVersion=1.00\nOriginalFilename=DRVFIXUP.exe\nProductVersion=1.00\n");
}

}  // namespace
