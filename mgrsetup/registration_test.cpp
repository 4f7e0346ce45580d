#include "mgrsetup/registration.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "mgrsetup/setup_registry.h"
#include "platform/win32/win_test_support.h"
#include "platform/win32/reg_key.h"

namespace {

// Where the fixture DLL's DllRegisterServer leaves its marks.
constexpr char MARKS_KEY[] = "Software\\ORVEL-test\\Registered";
constexpr const char* SCRATCH_KEYS[] = {"Software\\ORVEL-test", REG_MANAGER_KEY,
                                        REG_MANAGER_UNINSTALL_KEY};
// Deleted after the manager key only while nothing else (the agent's key) is below.
constexpr const char* MANAGER_PARENTS[] = {"Software\\VANTREX\\ORVEL_MANAGER\\Nimbrel",
                                           "Software\\VANTREX\\ORVEL_MANAGER", "Software\\VANTREX"};

using Shown = std::vector<std::pair<std::string, UINT>>;
struct ScriptedUi : SetupUi {
  Shown shown;
  int Message(const char* text, UINT type) override {
    shown.emplace_back(text, type);
    return IDOK;
  }
};

void DeleteKeyTree(const std::string& path) {
  char child[256];
  for (RegKey key; key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS &&
                   RegEnumKeyA(key.get(), 0, child, sizeof child) == ERROR_SUCCESS;)
    DeleteKeyTree(path + "\\" + child);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

// Every value of a key: name to (type, bytes as stored).
using Values = std::map<std::string, std::pair<DWORD, std::string>>;
Values ReadValues(const char* path) {
  Values values;
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE) != ERROR_SUCCESS) return values;
  char name[256];
  BYTE data[1024];
  for (DWORD i = 0, n = sizeof name, size = sizeof data, type;
       RegEnumValueA(key.get(), i, name, &n, nullptr, &type, data, &size) == ERROR_SUCCESS;
       ++i, n = sizeof name, size = sizeof data)
    values[name] = {type, std::string(reinterpret_cast<char*>(data), size)};
  return values;
}

void DeleteScratchKeys() {
  for (const char* key : SCRATCH_KEYS) DeleteKeyTree(key);
  for (const char* key : MANAGER_PARENTS) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

bool KeyExists(const char* path) {
  RegKey key;
  return key.Open(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

std::string Text(const std::string& s) { return std::string(s.c_str(), s.size() + 1); }
std::string Dword(DWORD v) { return std::string(reinterpret_cast<char*>(&v), sizeof v); }

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "run under LANG=ja_JP.UTF-8: texts are code page 932";
    DeleteScratchKeys();
    ASSERT_TRUE(scratch_.made()) << dir_;
    s_.diskRoot = disk_.c_str();
    std::snprintf(s_.systemFolder, sizeof s_.systemFolder, "%s\\sys", dir_.c_str());
    std::snprintf(s_.daoFolder, sizeof s_.daoFolder, "%s\\dao", dir_.c_str());
    std::snprintf(s_.installFolder, sizeof s_.installFolder, "C:\\Program Files\\ﾆﾝﾌﾞﾙ");
    s_.ui = &ui_;
  }
  void TearDown() override { DeleteScratchKeys(); }

  wintest::ScratchDir scratch_{"rgt", {"disk", "sys", "dao"}};
  const std::string dir_ = scratch_.path(), disk_ = dir_ + "\\disk\\";
  SetupState s_;
  ScriptedUi ui_;
};

TEST_F(Registration, SettingsAreWrittenOverwrittenAndRolledBackToEmptyKeys) {
  // DLLVersion is the leading number, or 1; each installation overwrites the last.
  const std::pair<const char*, DWORD> versions[] = {{"3a", 3}, {"Error", 1}, {"", 1}, {"12", 12}};
  for (const auto& v : versions) {
    std::snprintf(s_.dllVersion, sizeof s_.dllVersion, "%s", v.first);
    std::snprintf(s_.managerVersion, sizeof s_.managerVersion, "2.%s", v.first);
    ASSERT_TRUE(WriteManagerSettings(s_));
    EXPECT_EQ(ReadValues(REG_MANAGER_KEY)["DLLVersion"].second, Dword(v.second)) << v.first;
  }
  EXPECT_TRUE(ui_.shown.empty());
  const std::string folder = s_.installFolder;
  EXPECT_EQ(ReadValues(REG_MANAGER_KEY),
            (Values{{"Pathname", {REG_SZ, Text(folder)}},
                    {"Version", {REG_SZ, Text("2.12")}},
                    {"LogFilePath", {REG_SZ, Text(folder)}},
                    {"DLLVersion", {REG_DWORD, Dword(12)}},
                    {"NowPassword", {REG_SZ, ""}},
                    {"SelectedName", {REG_SZ, ""}}}));
  EXPECT_EQ(ReadValues(REG_MANAGER_UNINSTALL_KEY),
            (Values{{"DisplayName", {REG_SZ, Text("ORVEL Nimbrel ﾏﾈｰｼﾞｬ")}},
                    {"UninstallString", {REG_SZ, Text(folder + "\\MGRREMOV.EXE")}}}));

  // The roll-back empties both keys and keeps them, and CONN_PARAM with them.
  const std::string conn = std::string(REG_MANAGER_KEY) + "\\CONN_PARAM";
  ASSERT_EQ(RegKey().Create(HKEY_LOCAL_MACHINE, conn.c_str(), KEY_SET_VALUE), ERROR_SUCCESS);
  RollBackInstall(s_, RollBack{false, false, false, true});
  for (const char* key : {REG_MANAGER_KEY, REG_MANAGER_UNINSTALL_KEY}) {
    EXPECT_TRUE(KeyExists(key)) << key;
    EXPECT_TRUE(ReadValues(key).empty()) << key;
  }
  EXPECT_TRUE(KeyExists(conn.c_str()));
}

// A non-volatile key cannot be made below a volatile one, so the manager key
// fails to be created: the message, and no uninstall entry is attempted.
TEST_F(Registration, ManagerKeyThatCannotBeCreatedIsReported) {
  if (KeyExists(MANAGER_PARENTS[0])) GTEST_SKIP() << "another product's key is below Nimbrel";
  RegKey parent;
  ASSERT_EQ(parent.Create(HKEY_LOCAL_MACHINE, MANAGER_PARENTS[0], KEY_READ, REG_OPTION_VOLATILE),
            ERROR_SUCCESS);
  EXPECT_FALSE(WriteManagerSettings(s_));
  EXPECT_EQ(ui_.shown, (Shown{{"ﾚｼﾞｽﾄﾘの作成に失敗しました。", MB_OK | MB_ICONHAND}}));
  EXPECT_FALSE(KeyExists(REG_MANAGER_KEY));
  EXPECT_FALSE(KeyExists(REG_MANAGER_UNINSTALL_KEY));
}

// DLLLIST.INF against copies of the fixture DLL: A1 and A2 in the system
// folder, D1 and D2 in the DAO folder. Which of them registered themselves.
TEST_F(Registration, RegisterDllsFollowsTheList) {
  char exe[MAX_PATH];
  ASSERT_NE(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
  const std::string fixture = std::string(exe, std::strrchr(exe, '\\')) + "\\setup_fixture_dll.dll";
  for (const char* sub :
       {"\\sys\\A1.DLL", "\\sys\\A2.DLL", "\\sys\\表.DLL", "\\dao\\D1.DLL", "\\dao\\D2.DLL"})
    ASSERT_TRUE(CopyFileA(fixture.c_str(), (dir_ + sub).c_str(), FALSE)) << fixture;
  struct Case {
    const char* list;  // null: no DLLLIST.INF
    bool result, emptySection;
    std::vector<std::string> registered;
  } cases[] = {
      {"[DLLRegisterFiles]\nx=A1.DLL\ny=A2.DLL\n[DaoDLLRegisterFiles]\nd=D1.DLL\ne=D2.DLL\n", true,
       false, {"sys\\A1.DLL", "sys\\A2.DLL", "dao\\D1.DLL"}},
      {"[DLLRegisterFiles]\n[DaoDLLRegisterFiles]\nd=D2.DLL\n", true, true, {"dao\\D2.DLL"}},
      // Passed over: a DLL that is not there, and names with a path in them.
      {"[DLLRegisterFiles]\nw=NONE.DLL\nx=..\\dao\\D1.DLL\ny=A2.DLL\nz=c:\\A1.DLL\n"
       "[DaoDLLRegisterFiles]\nd=D2.DLL\n",
       true, false, {"sys\\A2.DLL", "dao\\D2.DLL"}},
      // A trail byte 0x5C (表) is no backslash; "." is the folder, no DLL.
      {"[DLLRegisterFiles]\nx=表.DLL\ny=.\n[DaoDLLRegisterFiles]\nd=.\n", true, false,
       {"sys\\表.DLL"}},
      // A first DAO key name over 30 characters is cut to fit 32 bytes and
      // then has no value: false, and what was registered stays.
      {"[DLLRegisterFiles]\nx=A1.DLL\n"
       "[DaoDLLRegisterFiles]\nd123456789012345678901234567890=D1.DLL\n",
       false, false, {"sys\\A1.DLL"}},
      {"[DLLRegisterFiles]\nx=A1.DLL\n", false, false, {}},
      {"[DaoDLLRegisterFiles]\nd=D1.DLL\n", false, false, {}},
      {nullptr, false, false, {}},
  };
  const std::string list = disk_ + "DLLLIST.INF";
  const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list ? c.list : "(no file)");
    DeleteKeyTree(MARKS_KEY);
    DeleteFileA(list.c_str());
    if (c.list) std::ofstream(list, std::ios::binary) << c.list;
    // XP lists no key names for an empty section; Wine's profile code gives
    // the default for it as for a missing section, so RegisterDlls stops.
    const bool wineEmpty = c.emptySection && wine;
    EXPECT_EQ(RegisterDlls(s_), c.result && !wineEmpty);
    Values expected;
    for (const std::string& dll : wineEmpty ? std::vector<std::string>{} : c.registered)
      expected[dll.substr(4)] = {REG_SZ, Text(dir_ + "\\" + dll)};
    EXPECT_EQ(ReadValues(MARKS_KEY), expected);
  }
  EXPECT_TRUE(ui_.shown.empty());
}

// The link's target, arguments and working folder, one a line; "" if unreadable.
std::string ReadLink(const std::string& file) {
  std::string read;
  CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  IPersistFile* persist = nullptr;
  WCHAR wide[MAX_PATH];
  char target[MAX_PATH], arguments[MAX_PATH], folder[MAX_PATH];
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
      MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH) &&
      SUCCEEDED(persist->Load(wide, STGM_READ)) &&
      SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
      SUCCEEDED(link->GetArguments(arguments, MAX_PATH)) &&
      SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH)))
    read = std::string(target) + "\n" + arguments + "\n" + folder;
  if (persist) persist->Release();
  if (link) link->Release();
  CoUninitialize();
  return read;
}

// The folder is fixed text for a Japanese XP. Wine lays out a Vista-style
// C:\ProgramData and C:\users instead, so the parents are made here as XP
// has them; without them no shortcut is made and nothing is said.
TEST_F(Registration, ShortcutIsMadeOnceInTheJapaneseStartMenu) {
  const std::string root = "C:\\Documents and Settings";
  ASSERT_EQ(GetFileAttributesA(root.c_str()), INVALID_FILE_ATTRIBUTES) << "not a fresh Wine prefix";
  std::snprintf(s_.systemFolder, sizeof s_.systemFolder, "C:\\WINDOWS\\system32");
  const std::string folder = root + "\\All Users\\スタート メニュー\\プログラム\\ORVEL Nimbrel";
  CreateStartMenuShortcut(s_);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);

  const struct Removed {
    std::string tree;
    ~Removed() { wintest::RemoveTree(tree); }
  } removed{root};
  for (const char* sub : {"", "\\All Users", "\\All Users\\スタート メニュー",
                          "\\All Users\\スタート メニュー\\プログラム"})
    ASSERT_TRUE(CreateDirectoryA((root + sub).c_str(), nullptr)) << sub;
  const std::string lnk = folder + "\\ﾏﾈｰｼﾞｬ.lnk";
  CreateStartMenuShortcut(s_);
  const std::string link = std::string(s_.installFolder) + "\\wakedesk.exe\n\n";
  EXPECT_EQ(ReadLink(lnk), link);

  // The folder exists now: a second installation leaves the link as it is.
  std::snprintf(s_.installFolder, sizeof s_.installFolder, "D:\\Other");
  CreateStartMenuShortcut(s_);
  EXPECT_EQ(ReadLink(lnk), link);
  EXPECT_TRUE(ui_.shown.empty());
}

}  // namespace
