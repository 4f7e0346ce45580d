// CONSETUP under Wine: the real installer from four setup disks in drive A:
// (a folder that the test re-points when the installer asks for the next
// disk), Wine's own expand tool, registry, shell links and folder browser,
// driven through the UI driver. One prefix serves every run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "e2e/ui.h"

namespace {

namespace fs = std::filesystem;
using e2e::Driver;
using e2e::Rows;
using e2e::Texts;

const std::string kSource = ORVEL_SOURCE_DIR;

const char kTitle[] = "ORVEL Nimbrel WindowsXP対応";
const char kCaption[] = "ORVEL Nimbrel ： ﾏﾈｰｼﾞｬ ｾｯﾄｱｯﾌﾟ";
const char kNotXp[] = "このプログラムは、WindowsXP上でなければ動作できません。";
const char kInstalled[] =
    "ｲﾝｽﾄｰﾙが正常に終了しました。\n servicesﾌｧｲﾙにﾎﾟｰﾄ番号が設定されていることを\n確認してください。";
std::string DiskPrompt(int n) {
  return "ﾏﾈｰｼﾞｬ ｾｯﾄｱｯﾌﾟ ﾃﾞｨｽｸ" + std::to_string(n) + "を入れてください。";
}

void ExpectTheDialog(const std::vector<Texts>& rows) {
  e2e::ExpectDialog(rows, kCaption, 193, 69,
                    {{"Static", "-1", "50020000", 7, 7, 178, 8, "Windows XP 対応"},
                     {"Static", "-1", "50020000", 7, 22, 178, 8,
                      "ORVEL Nimbrelのﾏﾈｰｼﾞｬをｲﾝｽﾄｰﾙしますか？"},
                     {"Button", "1", "50010001", 37, 48, 50, 14, "ｲﾝｽﾄｰﾙ"},
                     {"Button", "2", "50010000", 109, 48, 50, 14, "ｷｬﾝｾﾙ"}});
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(std::stoul(rows[0][2], nullptr, 16) & 0x00040000, 0x00040000u);  // WS_EX_APPWINDOW
}

const char kRegistryFailed[] = "ﾚｼﾞｽﾄﾘの作成に失敗しました。";
const char kPromptButtons[] = "1:OK 2:キャンセル ";

// Below HKEY_LOCAL_MACHINE.
const char kManagerKey[] = "Software\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Manager";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEL Nimbrel Manager";
const char kMarksKey[] = "Software\\ORVEL-test\\Registered";
// Below drive_c: where a Japanese Windows XP keeps the all-users Start menu.
// File names on the Linux side, and arguments to Wine programs, are UTF-8.
const char kStartMenu[] = u8"Documents and Settings/All Users/スタート メニュー/プログラム";
const char kInstallDir[] = "ORVEL/Manager";
const char kDaoDir[] = "Program Files/Common Files/Microsoft Shared/Dao";

// Where each file of the disks lands, below drive_c.
const std::vector<std::pair<std::string, std::string>> kPlaced = {
    {"wakedesk.exe", kInstallDir},          {"MGRREMOV.EXE", kInstallDir},
    {"mgrremov.inf", kInstallDir},          {"wakedesk.hlp", kInstallDir},
    {"QXCOM1.DLL", "windows/system32"},     {"QXCOM2.DLL", "windows/system32"},
    {"QXCMN32.DLL", "windows/system32"},    {"QXDAO.DLL", kDaoDir},
};

class SetupUnderWine : public e2e::DesktopSuite {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NO_FATAL_FAILURE(StartDesktop("setup"));
    disks_ = prefix_->dir() + ".disks";
    const e2e::RunResult made =
        e2e::Run({kSource + "/scripts/make-setup-disks", disks_, e2e::WineArch(kSource)}, 60000);
    ASSERT_EQ(made.exit_code, 0) << made.out;
    CopyToFixtures("CONSETUP.exe");
  }

  // Puts disk n in drive A: (0: an empty drive).
  static void InsertDisk(int n) {
    const fs::path a = fs::path(prefix_->dir()) / "dosdevices/a:";
    fs::remove(a);
    const fs::path disk = n ? fs::path(disks_) / ("disk" + std::to_string(n)) : fs::path(disks_);
    fs::create_directory_symlink(disk, a);
  }

  // A PC without the manager: the folders of a Japanese XP, an empty install
  // folder, no settings, no work folder, no registrations.
  static void FreshPc() {
    for (const auto& [name, dir] : kPlaced) fs::remove(C() / dir / name);
    fs::remove_all(C() / kInstallDir);
    fs::remove_all(C() / "Tmp");
    fs::remove_all(C() / kStartMenu / "ORVEL Nimbrel");
    for (const char* dir : {kInstallDir, kDaoDir, kStartMenu}) fs::create_directories(C() / dir);
    for (const char* key : {kManagerKey, kUninstallKey, kMarksKey}) {
      Wine({"reg", "delete", std::string("HKLM\\") + key, "/f"});
    }
    Wine({"reg", "delete", "HKLM\\Software\\VANTREX", "/f"});
    InsertDisk(1);
  }

  // The values NAMES of HKLM\\KEY as "NAME TYPE DATA" lines, each that is
  // there. One by one: Wine's `reg query /s` fails on the manager key's
  // empty strings (the unit tests pin those).
  static std::string Values(const std::string& key, const Texts& names) {
    std::string values;
    for (const std::string& name : names) {
      for (const std::string& line : RegLines(key, name)) values += line.substr(key.size() + 1) + "\n";
    }
    return values;
  }

  static std::vector<Texts> Ui(const Texts& args, const std::string& shot = "") {
    const e2e::RunResult r = Driver(*prefix_, args);
    EXPECT_EQ(r.exit_code, 0) << args[0] << " " << (args.size() > 1 ? args[1] : "") << r.out;
    if (!shot.empty()) Shot("consetup-" + shot);
    return Rows(r.out);
  }

  static void Answer(const std::string& text, const char* icon, const std::string& shot,
                     const char* id = "1", const std::string& buttons = "1:OK ") {
    AnswerBox(kTitle, kCaption, text, icon, "consetup-" + shot, id, buttons);
  }

  // The prompt for disk n, answered by putting the disk in and pressing OK;
  // only then, since the installer reads the disk before it asks for the next.
  static void ChangeDisk(int n, const std::string& shot) {
    Ui({"msgbox"});
    InsertDisk(n);
    Answer(DiskPrompt(n), "yellow", shot, "1", kPromptButtons);
  }

  // CONSETUP started, its dialog checked, ｲﾝｽﾄｰﾙ pressed.
  static e2e::Background Start(const std::string& version = "") {
    EXPECT_TRUE(prefix_->ImportRegistry("REGEDIT4\r\n\r\n" + e2e::AppDefaults("CONSETUP.exe", version)));
    e2e::Background setup = prefix_->WineInBackground({"C:\\fixture\\CONSETUP.exe"},
                                                      prefix_->dir() + ".consetup.log");
    ExpectTheDialog(Ui({"dialog"}, "dialog"));
    Ui({"dialog", "click", "1"});
    return setup;
  }

  // Chooses the install folder, then answers the prompts for disks 2 to 4
  // by putting each disk in.
  static void ChooseFolderAndDisks() {
    Ui({"browse"}, "browser");
    Ui({"browse", "C:\\ORVEL\\Manager"});
    for (int n = 2; n <= 4; ++n) ChangeDisk(n, "disk" + std::to_string(n));
  }

  static int ExitCode(e2e::Background& setup) {
    int code = -1;
    EXPECT_TRUE(setup.Wait(60000, &code)) << "the installer did not end";
    return code;
  }

  static inline std::string disks_;
};

TEST_F(SetupUnderWine, InstallsFromFourDisks) {
  FreshPc();
  {
    e2e::Background setup = Start();
    ChooseFolderAndDisks();
    Answer(kInstalled, "blue", "installed");
    EXPECT_EQ(ExitCode(setup), 0);
  }
  for (const auto& [name, dir] : kPlaced) {
    EXPECT_EQ(logtest::ReadAll(C() / dir / name), logtest::ReadAll(fs::path(disks_) / "files" / name))
        << name;
  }
  EXPECT_EQ(Values(kManagerKey, {"Pathname", "Version", "DLLVersion"}),
            "Pathname REG_SZ C:\\ORVEL\\Manager\nVersion REG_SZ 1.00\nDLLVersion REG_DWORD 0xc\n");
  EXPECT_EQ(Values(kUninstallKey, {"UninstallString"}),
            "UninstallString REG_SZ C:\\ORVEL\\Manager\\MGRREMOV.EXE\n");
  EXPECT_EQ(Values(kMarksKey, {"QXCOM1.DLL", "QXCOM2.DLL", "QXCMN32.DLL", "QXDAO.DLL"}),
            "QXCOM1.DLL REG_SZ C:\\windows\\system32\\QXCOM1.DLL\n"
            "QXCOM2.DLL REG_SZ C:\\windows\\system32\\QXCOM2.DLL\n"
            "QXDAO.DLL REG_SZ C:\\Program Files\\Common Files\\Microsoft Shared\\Dao\\QXDAO.DLL\n");
  EXPECT_TRUE(fs::exists(C() / kStartMenu / "ORVEL Nimbrel" / u8"ﾏﾈｰｼﾞｬ.lnk"));
  EXPECT_FALSE(fs::exists(C() / "Tmp/TAV_TMP"));
  EXPECT_TRUE(fs::exists(C() / "Tmp"));

  // Installing again and cancelling at a disk prompt leaves the installation
  // as it was, byte for byte: none of its files was this run's to delete.
  const auto installation = [] {
    std::string all = Values(kManagerKey, {"Pathname", "Version", "DLLVersion"}) +
                      Values(kUninstallKey, {"DisplayName", "UninstallString"});
    for (const auto& e : fs::directory_iterator(C() / kInstallDir))
      all += e.path().filename().string() + ": " + logtest::ReadAll(e.path()) + "\n";
    return all;
  };
  const std::string before = installation();
  {
    InsertDisk(1);
    e2e::Background setup = Start();
    Ui({"browse", "C:\\ORVEL\\Manager"});
    ChangeDisk(2, "disk");
    Answer(DiskPrompt(3), "yellow", "cancel", "2", kPromptButtons);
    EXPECT_EQ(ExitCode(setup), 1);
  }
  EXPECT_EQ(installation(), before);
  EXPECT_FALSE(fs::exists(C() / "Tmp/TAV_TMP"));
}

TEST_F(SetupUnderWine, RollsBackWhatFailsAndRefusesOldWindows) {
  // Cancel at each disk prompt: nothing installed, the work folder gone.
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE("cancel at disk " + std::to_string(n));
    FreshPc();
    if (n == 1) InsertDisk(0);
    e2e::Background setup = Start();
    Ui({"browse", "C:\\ORVEL\\Manager"});
    for (int m = 2; m < n; ++m) ChangeDisk(m, "disk");
    Answer(DiskPrompt(n), "yellow", "cancel", "2", kPromptButtons);
    EXPECT_EQ(ExitCode(setup), 1);
    EXPECT_TRUE(fs::is_empty(C() / kInstallDir));
    EXPECT_FALSE(fs::exists(C() / "Tmp/TAV_TMP"));
    EXPECT_EQ(Values(kManagerKey, {"Pathname"}), "");
  }
  // Settings that cannot be written: the installed files go again, but not
  // the user's own file of a listed name, which was there before.
  {
    FreshPc();
    ASSERT_EQ(Driver(*prefix_, {"volatile-key", "Software\\VANTREX\\ORVEL_MANAGER\\Nimbrel"}).exit_code, 0);
    const fs::path users = C() / kInstallDir / "wakedesk.hlp";
    std::ofstream(users, std::ios::binary) << "the user's own";
    e2e::Background setup = Start();
    ChooseFolderAndDisks();
    Answer(kRegistryFailed, "red", "registry");
    EXPECT_EQ(ExitCode(setup), 1);
    EXPECT_EQ(logtest::ReadAll(users), "the user's own");
    fs::remove(users);
    EXPECT_TRUE(fs::is_empty(C() / kInstallDir));
    EXPECT_EQ(Values(kUninstallKey, {"UninstallString"}), "");
    EXPECT_FALSE(fs::exists(C() / "Tmp/TAV_TMP"));
  }
  // The folder browser cancelled brings the dialog back; ｷｬﾝｾﾙ then ends.
  {
    FreshPc();
    e2e::Background setup = Start();
    Ui({"browse", "cancel"});
    ExpectTheDialog(Ui({"dialog", "click", "2"}));
    EXPECT_EQ(ExitCode(setup), 0);
  }
  // Windows 98 is refused after ｲﾝｽﾄｰﾙ, with exit code 2.
  e2e::Background setup = Start("win98");
  Answer(kNotXp, "red", "refused");
  EXPECT_EQ(ExitCode(setup), 2);
}

}  // namespace
