// DRVFIXUP under Wine: the real program, the real Wine registry, its dialog
// and message boxes read through the UI driver, its exit code from wine.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

const std::string kSource = ORVEL_SOURCE_DIR;
std::string Bin() { return e2e::WinBinDir(kSource); }
const std::string kDriverKey = "HKLM\\System\\CurrentControlSet\\Services\\HALTGATE";

// The texts as the program holds them (code page 932) and as UTF-8.
const char kCaption932[] =
    "\x4f\x52\x56\x45\x4c\x20\x4e\x69\x6d\x62\x72\x65\x6c\x20\x57\x69\x6e\x64\x6f\x77\x73\x58"
    "\x50\x91\xce\x89\x9e";
const char kCaption[] = u8"ORVEL Nimbrel WindowsXP対応";
const char kRestart932[] =
    "\x90\xdd\x92\xe8\x82\xf0\x97\x4c\x8c\xf8\x82\xc9\x82\xb7\x82\xe9\x82\xc9\x82\xcd\x81\x41"
    "\x83\x52\x83\x93\x83\x73\x83\x85\x81\x5b\x83\x5e\x82\xf0\x8d\xc4\x8b\x4e\x93\xae\x82\xb7"
    "\x82\xe9\x95\x4b\x97\x76\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81\x42";
const char kRestart[] = u8"設定を有効にするには、コンピュータを再起動する必要があります。";
const char kNotXp932[] =
    "\x82\xb1\x82\xcc\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x82\xcd\x81\x41\x57\x69\x6e\x64"
    "\x6f\x77\x73\x58\x50\x8f\xe3\x82\xc5\x82\xc8\x82\xaf\x82\xea\x82\xce\x93\xae\x8d\xec\x82"
    "\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42";
const char kNotXp[] = u8"このプログラムは、WindowsXP上でなければ動作できません。";

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[8];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "\\x%02x", c);
    out += buf;
  }
  return out;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!line.empty() && line.back() == sep) parts.push_back("");
  return parts;
}

// One line of the driver's listing (see uidriver.cpp).
struct Item {
  std::string cls;
  int id = 0;
  unsigned long style = 0, exstyle = 0;
  int x = 0, y = 0, w = 0, h = 0;
  std::string owner_hex, hex, text;
  int icon = -1;  // icon statics: 1 when an icon shows
};

struct Listing {
  Item window;  // w and h: the client area
  std::vector<Item> controls;
  const Item* Find(int id) const {
    for (const Item& c : controls)
      if (c.id == id) return &c;
    return nullptr;
  }
};

Listing Parse(const std::string& out) {
  Listing l;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Split(line, '\t');
    if (f.size() >= 9 && f[0] == "window") {
      l.window.cls = f[1];
      l.window.style = std::stoul(f[2], nullptr, 16);
      l.window.exstyle = std::stoul(f[3], nullptr, 16);
      l.window.w = std::stoi(f[4]), l.window.h = std::stoi(f[5]);
      l.window.owner_hex = f[6], l.window.hex = f[7], l.window.text = f[8];
    } else if (f.size() >= 11 && f[0] == "control") {
      Item c;
      c.cls = f[1];
      c.id = std::stoi(f[2]);
      c.style = std::stoul(f[3], nullptr, 16), c.exstyle = std::stoul(f[4], nullptr, 16);
      c.x = std::stoi(f[5]), c.y = std::stoi(f[6]), c.w = std::stoi(f[7]), c.h = std::stoi(f[8]);
      c.hex = f[9], c.text = f[10];
      if (f.size() > 11) c.icon = f[11] == "icon=1";
      l.controls.push_back(c);
    }
  }
  return l;
}

// `reg query /s` as key -> value names, the keys relative to kDriverKey.
std::map<std::string, std::vector<std::string>> ParseRegQuery(const std::string& out) {
  std::map<std::string, std::vector<std::string>> keys;
  std::istringstream in(out);
  std::string line, key;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("HKEY_", 0) == 0) {
      const size_t cut = line.find("HALTGATE");
      key = cut == std::string::npos ? line : line.substr(cut);
      keys[key];
    } else if (line.rfind("    ", 0) == 0 && !key.empty()) {
      keys[key].push_back(line.substr(4, line.find("    ", 4) - 4));
    }
  }
  return keys;
}

// The driver's settings as the driver's installation leaves them.
const char kDriverSettings[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE]\r\n"
    "\"ErrorControl\"=dword:00000001\r\n"
    "\"Start\"=dword:00000003\r\n"
    "\"Type\"=dword:00000001\r\n"
    "\"SSCode\"=hex:5a,1c,00,07\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE\\Enum]\r\n"
    "\"0\"=\"Root\\\\LEGACY_HALTGATE\\\\0000\"\r\n"
    "\"Count\"=dword:00000001\r\n"
    "\"NextInstance\"=dword:00000001\r\n\r\n";

const char kEnumSubkey[] =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE\\Enum\\Root]\r\n"
    "\"Kept\"=dword:00000007\r\n\r\n";

class WineDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    mkdir((kSource + "/build").c_str(), 0755);
    mkdir((kSource + "/build/wine").c_str(), 0755);
    mkdir((kSource + "/build/screenshots").c_str(), 0755);
    struct stat st;
    if (stat((Bin() + "/DRVFIXUP.exe").c_str(), &st) != 0 ||
        stat((Bin() + "/uidriver.exe").c_str(), &st) != 0) {
      problem = "build the Windows programs first (scripts/build)";
      return;
    }
    const std::string base = kSource + "/build/wine/drvfixup";
    problem = "Xvfb did not start";
    if (!xvfb.Start(base + ".xvfb.pid", base + ".xvfb.log")) return;
    prefix = std::make_unique<e2e::WinePrefix>(kSource, base, xvfb.display());
    problem = "the Wine prefix did not start";
    if (!prefix->Create() || !prefix->Start()) return;
    // A virtual desktop draws caption bars; the dialog font of a Japanese
    // Windows maps to the proportional IPA Gothic.
    ready = prefix->ImportRegistry(
        "REGEDIT4\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n\"Desktop\"=\"Default\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n\"Default\"=\"1024x768\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
        "\"\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e\"=\"IPAPGothic\"\r\n\r\n");
  }
  void TearDown() override {
    if (prefix) prefix->Stop();
    xvfb.Stop();
  }

  e2e::Xvfb xvfb;
  std::unique_ptr<e2e::WinePrefix> prefix;
  bool ready = false;
  std::string problem;
};

WineDesktop* desktop =
    static_cast<WineDesktop*>(::testing::AddGlobalTestEnvironment(new WineDesktop));

class DrvfixupTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(desktop->ready) << desktop->problem; }

  const e2e::WinePrefix& Prefix() { return *desktop->prefix; }

  // The registry before a run: the driver key as given, and DRVFIXUP
  // running as the Windows version named (empty: the prefix's own).
  void Prepare(const std::string& driver_settings, const std::string& version = "") {
    std::string reg = "REGEDIT4\r\n\r\n"
                      "[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\HALTGATE]\r\n\r\n"
                      "[-HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\DRVFIXUP.exe]\r\n\r\n";
    reg += driver_settings;
    if (!version.empty()) {
      reg += "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\DRVFIXUP.exe]\r\n\"Version\"=\"" +
             version + "\"\r\n\r\n";
    }
    ASSERT_TRUE(Prefix().ImportRegistry(reg));
  }

  std::map<std::string, std::vector<std::string>> DriverKeys() {
    std::string out;
    if (!Prefix().RegQuery(kDriverKey, &out)) return {};
    auto keys = ParseRegQuery(out);
    // Wine's reg query /s leaves out the queried key's own line when it has
    // no values; a successful query is proof enough that it exists.
    keys["HALTGATE"];
    return keys;
  }

  e2e::Background StartFixup() {
    return Prefix().WineInBackground({Bin() + "/DRVFIXUP.exe"},
                                     Prefix().dir() + ".drvfixup.log");
  }

  e2e::RunResult Driver(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {Bin() + "/uidriver.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Prefix().Wine(argv, 30000);
  }

  Listing WaitAndList(const std::string& kind) {
    EXPECT_EQ(Driver({"wait", kind, kCaption, "15000"}).exit_code, 0) << kind << " not shown";
    return Parse(Driver({"list", kind, kCaption}).out);
  }

  void Shot(const std::string& name) {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    e2e::Screenshot(desktop->xvfb.display(),
                    kSource + "/build/screenshots/drvfixup-" + test + "-" + name + ".png");
  }

  void Click(const std::string& kind, int id) {
    ASSERT_EQ(Driver({"click", kind, kCaption, std::to_string(id)}).exit_code, 0);
  }

  // The box with the text given, owned by the dialog; only an OK button.
  void ExpectMessageBox(const Listing& box, const char* text932, const char* text, bool icon) {
    EXPECT_EQ(box.window.hex, Hex(kCaption932));
    EXPECT_EQ(box.window.text, kCaption);
    EXPECT_EQ(box.window.owner_hex, Hex(kCaption932)) << "owned by the dialog";
    const Item* message = box.Find(0xFFFF);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->hex, Hex(text932));
    EXPECT_EQ(message->text, text);
    int buttons = 0, icons = 0;
    for (const Item& c : box.controls) {
      buttons += c.cls == "Button" && (c.style & WS_VISIBLE_BIT);
      icons += c.icon == 1;
    }
    EXPECT_EQ(buttons, 1);
    ASSERT_NE(box.Find(1), nullptr);
    EXPECT_EQ(box.Find(1)->text, "OK");
    EXPECT_EQ(icons, icon ? 1 : 0);
  }

  // OK (or Enter) on a supported system: the restart message, then the end.
  void RunFixupToTheRestartMessage(bool enter = false) {
    e2e::Background fixup = StartFixup();
    WaitAndList("dialog");
    if (enter) {
      ASSERT_EQ(Driver({"key", "dialog", kCaption, "enter"}).exit_code, 0);
    } else {
      Click("dialog", IDOK);
    }
    ExpectRestartMessageAndExit(fixup);
  }

  // The restart message, answered with OK; then the program ends with 0.
  void ExpectRestartMessageAndExit(e2e::Background& fixup) {
    Listing box = WaitAndList("msgbox");
    Shot("message");
    ExpectMessageBox(box, kRestart932, kRestart, false);
    Click("msgbox", IDOK);
    int code = -1;
    ASSERT_TRUE(fixup.Wait(20000, &code)) << "the program did not end";
    EXPECT_EQ(code, 0);
  }

  static constexpr unsigned long WS_VISIBLE_BIT = 0x10000000;
  static constexpr int IDOK = 1, IDCANCEL = 2;
};

// The template's layout in dialog units; the dialog manager places
// MulDiv(unit, base, 4) horizontally and MulDiv(unit, base, 8) vertically.
struct Expected {
  const char* cls;
  int id;
  unsigned long style;
  int x, y, w, h;
  const char* hex;
  const char* text;
};

int MulDiv(int v, int m, int d) { return (v * m * 2 + d) / (2 * d); }

bool LayoutMatches(const Listing& l, const std::vector<Expected>& want, int bx, int by) {
  if (l.window.w != MulDiv(175, bx, 4) || l.window.h != MulDiv(61, by, 8)) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    const Item& c = l.controls[i];
    if (c.x != MulDiv(want[i].x, bx, 4) || c.y != MulDiv(want[i].y, by, 8) ||
        c.w != MulDiv(want[i].w, bx, 4) || c.h != MulDiv(want[i].h, by, 8)) {
      return false;
    }
  }
  return true;
}

TEST_F(DrvfixupTest, OkRemovesTheDriverSettingsAndAsksForARestart) {
  Prepare(kDriverSettings);
  ASSERT_EQ(DriverKeys().size(), 2u);
  e2e::Background fixup = StartFixup();
  Listing dlg = WaitAndList("dialog");
  Shot("dialog");

  // The dialog: caption, frame without minimise box, on the task bar.
  EXPECT_EQ(dlg.window.hex, Hex(kCaption932));
  EXPECT_EQ(dlg.window.text, kCaption);
  EXPECT_EQ(dlg.window.owner_hex, "-");
  const unsigned long want_style = 0x80000000 | 0x10000000 | 0x00C00000 | 0x00080000 | 0x80 | 0x40;
  EXPECT_EQ(dlg.window.style & want_style, want_style);  // popup visible caption sysmenu modal font
  EXPECT_EQ(dlg.window.style & 0x00030000, 0u);          // no minimise or maximise box
  EXPECT_EQ(dlg.window.exstyle & 0x00040000, 0x00040000u);  // WS_EX_APPWINDOW

  const std::vector<Expected> want = {
      {"Static", -1, 0x50020000, 7, 7, 161, 11,
       "\x57\x69\x6e\x64\x6f\x77\x73\x58\x50\x97\x70\x82\xc9\x83\x76\x83\x8d\x83\x4f\x83\x89\x83"
       "\x80\x82\xcc\x90\xdd\x92\xe8\x82\xf0\x95\xcf\x8d\x58\x82\xb5\x82\xdc\x82\xb7\x81\x42",
       u8"WindowsXP用にプログラムの設定を変更します。"},
      {"Static", -1, 0x50020000, 7, 21, 161, 11,
       "\x82\xe6\x82\xeb\x82\xb5\x82\xa2\x82\xc5\x82\xb7\x82\xa9\x81\x48", u8"よろしいですか？"},
      {"Button", IDOK, 0x50010001, 23, 40, 50, 14, "OK", "OK"},  // default push button
      {"Button", IDCANCEL, 0x50010000, 102, 40, 50, 14, "\xb7\xac\xdd\xbe\xd9", u8"ｷｬﾝｾﾙ"},
  };
  ASSERT_EQ(dlg.controls.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].text);
    EXPECT_EQ(dlg.controls[i].cls, want[i].cls);
    EXPECT_EQ(dlg.controls[i].id, want[i].id);
    EXPECT_EQ(dlg.controls[i].style, want[i].style);
    EXPECT_EQ(dlg.controls[i].hex, Hex(want[i].hex));
    EXPECT_EQ(dlg.controls[i].text, want[i].text);
  }
  bool layout = false;
  for (int bx = 1; bx < 40 && !layout; ++bx)
    for (int by = 1; by < 40 && !layout; ++by) layout = LayoutMatches(dlg, want, bx, by);
  EXPECT_TRUE(layout) << "positions and sizes differ from 175 x 61 dialog units";

  Click("dialog", IDOK);
  ExpectRestartMessageAndExit(fixup);
  EXPECT_TRUE(DriverKeys().empty()) << "the HALTGATE key is still there";
}

TEST_F(DrvfixupTest, NothingToDeleteStillAsksForARestart) {
  Prepare("");
  RunFixupToTheRestartMessage();
  EXPECT_TRUE(DriverKeys().empty()) << "a run with nothing to delete created keys";
}

TEST_F(DrvfixupTest, EnumWithASubkeyLosesItsValuesButBothKeysStay) {
  Prepare(std::string(kDriverSettings) + kEnumSubkey);
  RunFixupToTheRestartMessage();
  const std::map<std::string, std::vector<std::string>> want = {
      {"HALTGATE", {}},
      {"HALTGATE\\Enum", {}},
      {"HALTGATE\\Enum\\Root", {"Kept"}},
  };
  EXPECT_EQ(DriverKeys(), want);
}

TEST_F(DrvfixupTest, CancelEscAndTheCloseBoxChangeNothing) {
  const std::vector<std::vector<std::string>> ways = {
      {"click", "dialog", kCaption, "2"},
      {"key", "dialog", kCaption, "esc"},
      {"close", "dialog", kCaption},
  };
  for (const std::vector<std::string>& way : ways) {
    SCOPED_TRACE(way[0]);
    Prepare(kDriverSettings);
    const auto before = DriverKeys();
    ASSERT_EQ(before.size(), 2u);
    e2e::Background fixup = StartFixup();
    WaitAndList("dialog");
    ASSERT_EQ(Driver(way).exit_code, 0);
    // A message box would keep the program from ending.
    int code = -1;
    ASSERT_TRUE(fixup.Wait(20000, &code)) << "the program did not end";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(DriverKeys(), before);
  }
}

TEST_F(DrvfixupTest, Windows98AndNt4AreRefusedWithExitCode2) {
  for (const char* version : {"win98", "nt40"}) {
    SCOPED_TRACE(version);
    Prepare(kDriverSettings, version);
    const auto before = DriverKeys();
    e2e::Background fixup = StartFixup();
    WaitAndList("dialog");  // the dialog opens on any system
    Click("dialog", IDOK);
    Listing box = WaitAndList("msgbox");
    Shot(std::string("message-") + version);
    ExpectMessageBox(box, kNotXp932, kNotXp, true);  // the stop icon: see the screenshot
    Click("msgbox", IDOK);
    int code = -1;
    ASSERT_TRUE(fixup.Wait(20000, &code)) << "the program did not end";
    EXPECT_EQ(code, 2);
    EXPECT_EQ(DriverKeys(), before);
  }
}

TEST_F(DrvfixupTest, Windows2000IsAcceptedAndEnterMeansOk) {
  Prepare(kDriverSettings, "win2k");
  RunFixupToTheRestartMessage(/*enter=*/true);
  EXPECT_TRUE(DriverKeys().empty()) << "the HALTGATE key is still there";
}

TEST_F(DrvfixupTest, VersionResource) {
  e2e::RunResult r = Driver({"version", Bin() + "/DRVFIXUP.exe"});
  ASSERT_EQ(r.exit_code, 0);
  std::map<std::string, std::string> fields;
  for (const std::string& line : Split(r.out, '\n')) {
    std::vector<std::string> f = Split(line, '\t');
    if (f.size() == 2) fields[f[0]] = f[1];
  }
  EXPECT_EQ(fields["FileVersionNumber"], "1.0.0.1");
  EXPECT_EQ(fields["ProductVersionNumber"], "1.0.0.1");
  EXPECT_EQ(fields["FileVersion"], "1.00");
  EXPECT_EQ(fields["ProductVersion"], "1.00");
  EXPECT_EQ(fields["FileDescription"], u8"ORVEL Nimbrel WindowsXP対応ﾌﾟﾛｸﾞﾗﾑ");
  EXPECT_EQ(fields["OriginalFilename"], "DRVFIXUP.exe");
  EXPECT_EQ(fields["Translation"], "041103a4");  // Japanese, code page 932
}

}  // namespace
