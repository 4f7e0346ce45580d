#include "uninstall/file_routines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/win_test_support.h"
#include "uninstall/wininit.h"

namespace {

using namespace std::string_literals;

using wintest::ReadBytes;

void WriteBytes(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(wintest::WriteBytes(path, bytes)) << path;
}

int CountTempFiles() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((std::string(temp) + "WI*.tmp").c_str(), &found);
  int n = 0;
  for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) ++n;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  return n;
}

// Each test works in a folder of its own under the temporary folder.
class FileRoutines : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "run under LANG=ja_JP.UTF-8: paths are code page 932";
    ASSERT_TRUE(scratch_.made()) << dir_;
  }

  // A real file (the short form needs one); its short path.
  std::string Target(const std::string& folder, const std::string& name) {
    const std::string sub = dir_ + "\\" + folder;
    CreateDirectoryA(sub.c_str(), nullptr);
    WriteBytes(sub + "\\" + name, "x");
    char shortPath[MAX_PATH];
    EXPECT_NE(GetShortPathNameA((sub + "\\" + name).c_str(), shortPath, MAX_PATH), 0u);
    return shortPath;
  }

  wintest::ScratchDir scratch_{"frt"};
  const std::string dir_ = scratch_.path(), wininit_ = scratch_["WININIT.INI"];
};

TEST_F(FileRoutines, WininitRecordsEachPathOnce) {
  const struct {
    const char* before;
    std::string after;
  } cases[] = {
      {nullptr, "[Rename]\r\nNUL=<S>\r\n"},
      {"[boot]\r\nx=1\r\n", "[boot]\r\nx=1\r\n[Rename]\r\nNUL=<S>\r\n"},
      {"[boot]\r\nx=1", "[boot]\r\nx=1\r\n[Rename]\r\nNUL=<S>\r\n"},
      {"[Rename] \r\n", "[Rename] \r\n[Rename]\r\nNUL=<S>\r\n"},
      {"[Rename]\r\nNUL=C:\\A.TXT\r\n[Next]\r\ny=2\r\n",
       "[Rename]\r\nNUL=C:\\A.TXT\r\nNUL=<S>\r\n[Next]\r\ny=2\r\n"},
      {"[Rename]\nNUL=C:\\A.TXT\n[Next]\n", "[Rename]\nNUL=C:\\A.TXT\nNUL=<S>\r\n[Next]\n"},
      {"[x]\r\n[Rename]\r\nNUL=C:\\A.TXT\r\n", "[x]\r\n[Rename]\r\nNUL=C:\\A.TXT\r\nNUL=<S>\r\n"},
      {"[Rename]\r\nNUL=C:\\A.TXT", "[Rename]\r\nNUL=C:\\A.TXT\r\nNUL=<S>\r\n"},
      {"[Rename]", "[Rename]\r\nNUL=<S>\r\n"},
      {"[rename]\r\n", "[rename]\r\nNUL=<S>\r\n"},
      {"[Rename]\r\nNUL=C:\\表\\ソ.TXT\r\n[表]\r\n",
       "[Rename]\r\nNUL=C:\\表\\ソ.TXT\r\nNUL=<S>\r\n[表]\r\n"},
  };
  // A long name, and a folder whose characters end in 0x5C ("表ソ": 95 5C 83 5C).
  // The line holds what GetShortPathNameA gives: Windows keeps "表ソ" as its
  // own short name, Wine 8 makes one up ("__~~~CN0").
  for (const auto& [folder, name] :
       {std::pair("agent files", "long program name.exe"), std::pair("表ソ", "a.exe")}) {
    const std::string shortPath = Target(folder, name);
    for (const auto& c : cases) {
      DeleteFileA(wininit_.c_str());
      if (c.before) WriteBytes(wininit_, c.before);
      EXPECT_EQ(AddWininitDeleteIn(dir_.c_str(), (dir_ + "\\" + folder + "\\" + name).c_str()), 1);
      const std::string after = std::string(c.after).replace(c.after.find("<S>"), 3, shortPath);
      EXPECT_EQ(ReadBytes(wininit_), after) << (c.before ? c.before : "(no file)");
      // Recorded already, also in other letter case: the file stays as it is.
      std::string lower = after;
      CharLowerBuffA(&lower[0], static_cast<DWORD>(lower.size()));
      WriteBytes(wininit_, lower);
      EXPECT_EQ(AddWininitDeleteIn(dir_.c_str(), shortPath.c_str()), 1);
      EXPECT_EQ(ReadBytes(wininit_), lower);
    }
  }
  // Nothing to record: an empty path, a file that does not exist.
  DeleteFileA(wininit_.c_str());
  EXPECT_EQ(AddWininitDeleteIn(dir_.c_str(), ""), 0);
  EXPECT_EQ(AddWininitDeleteIn(dir_.c_str(), (dir_ + "\\missing.exe").c_str()), 0);
  EXPECT_EQ(GetFileAttributesA(wininit_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileRoutines, WininitFailedRewriteKeepsTheOriginal) {
  const std::string target = Target("a", "b.exe");
  const std::string original = "[Rename]\r\nNUL=C:\\A.TXT\r\n[Next]\r\n";
  // Half the text written, then a failure: the half-written file is replaced.
  const WininitWrite failing = [](HANDLE file, const void* data, DWORD size, DWORD* written) {
    WriteFile(file, data, size / 2, written, nullptr);
    return FALSE;
  };
  const int tempFiles = CountTempFiles();
  WriteBytes(wininit_, original);
  EXPECT_EQ(AddWininitDeleteIn(dir_.c_str(), target.c_str(), failing), 0);
  EXPECT_EQ(ReadBytes(wininit_), original);
  EXPECT_EQ(CountTempFiles(), tempFiles);
}

TEST_F(FileRoutines, WininitOfSeveralMegabytes) {
  std::string big = "[Rename]\r\n";
  char line[64];
  for (int i = 0; big.size() < 4u << 20; ++i) {
    big.append(line, std::snprintf(line, sizeof line, "NUL=C:\\WINDOWS\\TEMP\\F%07d.TMP\r\n", i));
  }
  WriteBytes(wininit_, big + "[Next]\r\n");
  const std::string target = Target("a", "b.exe");
  EXPECT_EQ(AddWininitDeleteIn(dir_.c_str(), target.c_str()), 1);
  EXPECT_EQ(ReadBytes(wininit_), big + "NUL=" + target + "\r\n[Next]\r\n");
}

TEST_F(FileRoutines, WininitPath) {
  char out[MAX_PATH];
  ASSERT_TRUE(WininitPath("C:\\", out, sizeof out));
  EXPECT_STREQ(out, "C:\\WININIT.INI");
  ASSERT_TRUE(WininitPath("C:\\WINDOWS", out, sizeof out));
  EXPECT_STREQ(out, "C:\\WINDOWS\\WININIT.INI");
  EXPECT_FALSE(WininitPath("C:\\WINDOWS", out, 22));
}

TEST_F(FileRoutines, AgentFileList) {
  const std::string kSection = "[QXWOL Agent Files]\r\n";
  // 7 names of 15 bytes: 112 bytes; a 14-byte name fills the rest, one of 15
  // would leave no room for the zero byte that ends the list.
  std::string seven = kSection, sevenList;
  for (int i = 0; i < 7; ++i) {
    const std::string name = std::string(11, char('A' + i)) + ".EXE";
    seven += "F" + std::to_string(i) + "=" + name + "\r\n";
    sevenList += name + '\0';
  }
  // exact: the list ends after these names; else only they are defined (what
  // Windows makes of bytes that are not text may follow).
  const struct {
    std::string ini, list;
    bool exact = true;
  } cases[] = {
      {kSection + "F1=PWRAGENT.EXE\r\nF2=QXWOL.DLL\r\n", "PWRAGENT.EXE\0QXWOL.DLL\0"s},
      {"[Other]\r\nX=NOT.EXE\r\n" + kSection + "a=pwragent.exe\r\nb=表.DLL\r\n",
       "pwragent.exe\0表.DLL\0"s},
      {kSection + "F=ABCDEFGHIJKL.EXE\r\n", "ABCDEFGHIJKL.EX\0"s},
      {kSection + "A=ONE.EXE\r\nB=\r\nC=TWO.EXE\r\n", "ONE.EXE\0"s},
      {kSection + "A=..\\X.EXE\r\nB=SUB\\X.EXE\r\nC=A/B.EXE\r\nD=C:X.EXE\r\nE=..\r\nE2=.\r\nF=OK.EXE\r\n",
       "OK.EXE\0"s},
      {seven + "F7=FOURTEENTH.EXE\r\nF8=Z.EXE\r\n", sevenList + "FOURTEENTH.EXE\0"s},
      {seven + "F7=FIFTEEN_LEN.EXE\r\nF8=Z.EXE\r\n", sevenList},
      {kSection + "A=" + std::string(2000, 'y') + "\r\nB=\x01\x7f\x81\r\n", "yyyyyyyyyyyyyyy\0"s,
       false},
      {"", ""},
  };
  const std::string ini = dir_ + "\\AGTREMOV.INF";
  for (const auto& c : cases) {
    DeleteFileA(ini.c_str());
    if (!c.ini.empty()) WriteBytes(ini, c.ini);
    char list[AGENT_FILE_LIST_SIZE + 16];
    std::memset(list, 0x5A, sizeof list);
    LoadAgentFileListFrom(ini.c_str(), list);
    const std::string got(list, AGENT_FILE_LIST_SIZE);
    EXPECT_EQ(got.substr(0, c.list.size()), c.list) << c.ini;
    const size_t end = got[0] ? got.find("\0\0"s) + 1 : 0;
    if (c.exact) {
      EXPECT_EQ(end, c.list.size()) << c.ini;
    }
    EXPECT_LT(end, AGENT_FILE_LIST_SIZE) << c.ini;
    EXPECT_EQ(std::string(list + AGENT_FILE_LIST_SIZE, 16), std::string(16, 0x5A)) << c.ini;
  }
}

TEST_F(FileRoutines, SplitLastComponent) {
  const struct {
    const char *path, *head, *tail;
    DWORD size;
  } cases[] = {
      {"SOFTWARE\\VANTREX\\ORVEL_MANAGER", "SOFTWARE\\VANTREX", "ORVEL_MANAGER", 64},
      {"NOSLASH", "NOSLASH", "untouched", 64},
      {"C:\\DIR\\", "C:\\DIR", "", 64},
      {"C:\\表", "C:", "表", 64},
      {"表\\ソ表", "表", "ソ表", 64},
      {"ソ\\ABCDEFG", "ソ", "ABC", 4},
      {"A\\表表", "A", "表", 4},  // never half a character
  };
  for (const auto& c : cases) {
    char path[64], tail[64] = "untouched";
    std::strcpy(path, c.path);
    EXPECT_EQ(SplitLastComponent(path, tail, c.size), std::strcmp(c.tail, "untouched") != 0);
    EXPECT_STREQ(path, c.head) << c.path;
    EXPECT_STREQ(tail, c.tail) << c.path;
  }
}

}  // namespace
