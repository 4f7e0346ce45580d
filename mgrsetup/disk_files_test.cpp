#include "mgrsetup/disk_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>

#include "platform/win32/win_test_support.h"

namespace {

const char kInternalError[] = "内部ｴﾗｰが発生しました。";
constexpr UINT kPromptType = MB_OKCANCEL | MB_ICONEXCLAMATION;

std::string Prompt(int n) {
  return "ﾏﾈｰｼﾞｬ ｾｯﾄｱｯﾌﾟ ﾃﾞｨｽｸ" + std::to_string(n) + "を入れてください。";
}

using wintest::Exists;
using wintest::ReadBytes;

void WriteBytes(const std::string& path, const std::string& bytes) {
  EXPECT_TRUE(wintest::WriteBytes(path, bytes)) << path;
}

// What COMPRESS.EXE writes, with every byte a literal: header, the last
// character of the name, the size, then a flag byte 0xFF before each 8 bytes.
std::string Szdd(const std::string& data, char last) {
  std::string out = std::string("SZDD\x88\xf0\x27\x33", 8) + 'A' + last;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(data.size() >> (8 * i));
  for (size_t i = 0; i < data.size(); i += 8) out += '\xff' + data.substr(i, 8);
  return out;
}

// A message expected, its answer, and the disk that answer "inserts" (0: none).
struct Step {
  std::string text;
  UINT type;
  int answer;
  int insert = 0;
};

// Folders of each test's own: disk0 (an empty drive) to disk4, inst, sys,
// work; no DAO folder. The fixture answers the messages from its script.
class DiskFiles : public ::testing::Test, public SetupUi {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "run under LANG=ja_JP.UTF-8: the texts are code page 932";
    ASSERT_TRUE(scratch_.made()) << dir_;
    Insert(0);
    s_.ui = this;
    snprintf(s_.installFolder, MAX_PATH, "%s\\inst", dir_.c_str());
    snprintf(s_.systemFolder, MAX_PATH, "%s\\sys", dir_.c_str());
    snprintf(s_.daoFolder, MAX_PATH, "%s\\dao", dir_.c_str());
    snprintf(s_.workFolder, MAX_PATH, "%s\\work", dir_.c_str());
  }
  void TearDown() override {
    EXPECT_TRUE(script_.empty()) << "a scripted message never came: " << script_.front().text;
    FreeDiskLists(s_);
    EXPECT_EQ(Lists(), "");
  }
  int Message(const char* text, UINT type) override {
    if (script_.empty()) ADD_FAILURE() << "unexpected message: " << text;
    if (script_.empty()) return IDCANCEL;
    const Step step = script_.front();
    script_.pop_front();
    EXPECT_EQ(text, step.text);
    EXPECT_EQ(type, step.type);
    if (step.insert) Insert(step.insert);
    return step.answer;
  }
  void Insert(int disk) {
    root_ = dir_ + "\\disk" + std::to_string(disk) + "\\";
    s_.diskRoot = root_.c_str();
  }
  std::string Disk(int n, const std::string& name) {
    return dir_ + "\\disk" + std::to_string(n) + "\\" + name;
  }
  // The lists as "DISK:NAME@DESTINATION", in list order.
  std::string Lists() {
    std::string out;
    for (int n = 0; n < SETUP_DISK_COUNT; ++n)
      for (const DiskFileEntry* e = s_.diskLists[n]; e; e = e->next)
        out += (out.empty() ? "" : " ") + std::to_string(n + 1) + ":" + e->name + "@" +
               std::to_string(e->destination);
    return out;
  }
  void ReadLists(const std::string& dsksetup) {
    FreeDiskLists(s_);
    WriteBytes(Disk(1, "dsksetup.inf"), dsksetup);
    Insert(1);
    ASSERT_TRUE(ReadDiskLists(s_));
  }

  wintest::ScratchDir scratch_{"dft", {"disk0", "disk1", "disk2", "disk3", "disk4", "inst", "sys", "work"}};
  const std::string dir_ = scratch_.path();
  std::string root_;
  SetupState s_;
  std::deque<Step> script_;
};

TEST_F(DiskFiles, ListLinesAndTheirLimits) {
  const std::string longLine = "1, A.EXE," + std::string(246, 'x');  // 255 bytes: one read
  const std::pair<std::string, std::string> cases[] = {
      {"[QXWOL Manager Files]\n1, A.EXE,\n[QXWOL Manager DLL Files]\n2, B.DLL,\n"
       "[Manager Del Files]\n3, C.EXE,\n[Manager COMMON DLL]\n4, D.DLL,\n[Dao DLL]\n1, E.DLL,",
       "1:A.EXE@1 1:E.DLL@3 2:B.DLL@2 3:C.EXE@1 4:D.DLL@2"},
      {"[Dao DLL] DAO\n1, A.DLL,\n[Other]\n1, B.DLL,\n", "1:A.DLL@3 1:B.DLL@3"},
      {"[QXWOL Manager Files]\n0, A.EXE,\n5, B.EXE,\n1, C.EXE,B\n1 D.EXE,\n"
       "1, E.EXE\n; 1, F.EXE,\n\n1,G.EXE,\n-1, H.EXE,\n99999999999, I.EXE,\n",
       "1:C.EXE@1 1:G.EXE@1"},
      {"1, A.EXE,\n[Unknown]\n1, B.EXE,\n[Dao DLL]\n2, C.DLL,\n", "2:C.DLL@3"},
      {"[QXWOL Manager Files]\n1, ABCDEFGHIJKL.EXE,\n1, ABCDEFGHIJK.EXE,\n1, ..X.EXE,\n"
       "1, C:X.EXE,\n1, A\\B.EXE,\n1, A/B.EXE,\n1, \x95\x5c.EXE,\n",
       "1:ABCDEFGHIJK.EXE@1 1:\x95\x5c.EXE@1"},
      {"[Dao DLL]\n" + longLine + "2, B.DLL,\n", "1:A.EXE@3 2:B.DLL@3"},
      // "." would move the whole work folder into a missing DAO folder's place.
      {"[Dao DLL]\n1, .,\n1, ...,\n1, D.DLL,\n", "1:D.DLL@3"},
  };
  for (const auto& c : cases) {
    ReadLists(c.first);
    EXPECT_EQ(Lists(), c.second) << c.first;
  }
}

TEST_F(DiskFiles, PromptsUntilTheDiskIsIn) {
  script_ = {{Prompt(1), kPromptType, IDOK}, {Prompt(1), kPromptType, IDCANCEL}};
  EXPECT_FALSE(ReadDiskLists(s_));
  WriteBytes(Disk(1, "dsksetup.inf"),
             "[Dao DLL]\n2, mgrremov.inf,\n2, B.DLL,\n3, A.B.inf,\n4, C.INF,\n");
  script_ = {{Prompt(1), kPromptType, IDOK, 1}};
  ASSERT_TRUE(ReadDiskLists(s_));
  EXPECT_STREQ(s_.managerVersion, "Error") << "without Version.txt";
  EXPECT_STREQ(s_.dllVersion, "Error");
  // The probe is the first file as stored: ".inf" after the first '.' is uncompressed.
  for (const char* stored : {"mgrremov.inf", "A.B.in_", "C.IN_"})
    WriteBytes(dir_ + "\\disk0\\" + stored, "x");
  Insert(0);
  for (int n : {1, 2, 3, 4}) EXPECT_TRUE(WaitForDisk(s_, n)) << n;  // none taken from disk 1
  for (int n : {0, 5}) EXPECT_FALSE(WaitForDisk(s_, n)) << n;
  DeleteFileA((dir_ + "\\disk0\\mgrremov.inf").c_str());
  WriteBytes(Disk(2, "mgrremov.inf"), "x");
  script_ = {{Prompt(2), kPromptType, IDOK}, {Prompt(2), kPromptType, IDOK, 2}};
  EXPECT_TRUE(WaitForDisk(s_, 2));
}

TEST_F(DiskFiles, PlacementExpandsEachDiskInTurn) {
  const std::string program = "MZ program bytes, more than eight of them";
  WriteBytes(Disk(1, "WAKE.EX_"), Szdd(program, 'E'));
  WriteBytes(Disk(1, "mgrremov.inf"), "FILE=WAKE.EXE\n");
  WriteBytes(Disk(2, "B.DL_"), Szdd("DLL", 'L'));
  WriteBytes(Disk(3, "C.DL_"), Szdd("C", 'L'));
  WriteBytes(Disk(1, "Version.txt"),
             "[Version]\r\nQXWOLVersion=0123456789ABCDEFGH\r\nDLLVersion=12\r\n");
  ReadLists(
      "[QXWOL Manager Files]\n1, WAKE.EXE,\n1, mgrremov.inf,\n[Dao DLL]\n2, B.DLL,\n3, C.DLL,\n");
  EXPECT_STREQ(s_.managerVersion, "0123456789ABCDE");
  EXPECT_STREQ(s_.dllVersion, "12");
  snprintf(s_.systemFolder, MAX_PATH, "C:\\windows\\system32");
  const std::string work = "C:\\Tmp\\TAV_TMP";
  wintest::RemoveTree(work);
  Insert(0);
  script_ = {{Prompt(1), kPromptType, IDOK, 1},
             {Prompt(2), kPromptType, IDOK, 2},
             {Prompt(3), kPromptType, IDCANCEL}};
  EXPECT_FALSE(PlaceSetupFiles(s_));
  EXPECT_EQ(s_.workFolder, work);
  EXPECT_EQ(ReadBytes(work + "\\WAKE.EXE"), program);
  EXPECT_EQ(ReadBytes(work + "\\mgrremov.inf"), "FILE=WAKE.EXE\n");
  EXPECT_EQ(ReadBytes(work + "\\B.DLL"), "DLL");
  CleanWorkFolder(s_);
  EXPECT_FALSE(Exists(work));
  EXPECT_TRUE(Exists("C:\\Tmp"));
  CreateDirectoryA(work.c_str(), nullptr);  // left over from an interrupted run
  script_ = {{"作業用ﾃﾞｨﾚｸﾄﾘの作成に失敗しました。", MB_ICONHAND, IDOK}};
  EXPECT_FALSE(PlaceSetupFiles(s_));
  RemoveDirectoryA(work.c_str());
}

TEST_F(DiskFiles, ExpansionThatLeavesNoFileFailsAndOnlyTheSystemsExpandRuns) {
  ASSERT_NE(GetSystemDirectoryA(s_.systemFolder, MAX_PATH), 0u);
  ReadLists("[QXWOL Manager Files]\n1, GONE.EXE,\n");
  script_ = {{kInternalError, MB_ICONHAND, IDOK}};
  EXPECT_FALSE(ExpandDiskFiles(s_, s_.diskLists[0]));
  // An expand.exe in the current folder, which a search would find first, is not run.
  WriteBytes(Disk(1, "GONE.EX_"), Szdd("expanded", 'E'));
  WriteBytes(dir_ + "\\work\\expand.exe", "not a program");
  char saved[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, saved);
  SetCurrentDirectoryA(s_.workFolder);
  EXPECT_TRUE(ExpandDiskFiles(s_, s_.diskLists[0]));
  SetCurrentDirectoryA(saved);
  EXPECT_EQ(ReadBytes(dir_ + "\\work\\GONE.EXE"), "expanded");
  // Nor one in the folder given as the system's, when it is not a program.
  snprintf(s_.systemFolder, MAX_PATH, "%s\\work", dir_.c_str());
  script_ = {{kInternalError, MB_ICONHAND, IDOK}};
  EXPECT_FALSE(ExpandDiskFiles(s_, s_.diskLists[0]));
}

TEST_F(DiskFiles, MovesKeepExistingFilesAndTheRollBackDeletesOnlyThisRunsFiles) {
  const std::string inst = dir_ + "\\inst\\";
  for (const char* name : {"A.EXE", "B.DLL", "C.DLL", "D.EXE", "LAST.DLL", "mgrremov.inf"})
    WriteBytes(dir_ + "\\work\\" + name, "new");
  WriteBytes(inst + "A.EXE", "old");  // an earlier installation's, or the user's
  const std::string lists =
      "[QXWOL Manager Files]\n1, A.EXE,\n1, D.EXE,\n1, LAST.DLL,\n1, mgrremov.inf,\n"
      "[QXWOL Manager DLL Files]\n2, B.DLL,\n[Dao DLL]\n2, C.DLL,\n";
  ReadLists(lists);
  for (int n : {0, 1}) EXPECT_TRUE(MoveExpandedFiles(s_, s_.diskLists[n]));
  EXPECT_EQ(ReadBytes(inst + "A.EXE"), "old") << "an existing file is kept";
  EXPECT_EQ(ReadBytes(inst + "D.EXE"), "new");
  EXPECT_EQ(ReadBytes(dir_ + "\\sys\\B.DLL"), "new");
  for (const char* name : {"A.EXE", "B.DLL", "C.DLL", "D.EXE"})
    EXPECT_FALSE(Exists(dir_ + "\\work\\" + name)) << name;

  // The removal list deletes the files it names that this run placed in the
  // install folder, then itself: not A.EXE, which was there, nor the user's
  // B.DLL (this run's went to the system folder).
  WriteBytes(inst + "B.DLL", "user");
  for (const char* name : {"LAST.DL", "..\\OUT.TXT"}) WriteBytes(inst + name, "x");
  const std::string removal =
      "[Remove]\nFILE=A.EXE\nFILE=B.DLL\nFILE1=d.exe\nfile=LAST.DL\nFILE=..\\OUT.TXT\n"
      "FILE=.\nFILE=C:OUT.TXT\nFILE=" + std::string(50, 'Y') + "\nFILE=LAST.DLL";
  WriteBytes(inst + "mgrremov.inf", removal);
  DeleteListedFiles(s_);
  for (const char* gone : {"D.EXE", "LAST.DLL", "mgrremov.inf"})
    EXPECT_FALSE(Exists(inst + gone)) << gone;
  EXPECT_EQ(ReadBytes(inst + "A.EXE"), "old");
  EXPECT_EQ(ReadBytes(inst + "B.DLL"), "user");
  for (const char* kept : {"LAST.DL", "..\\OUT.TXT", "..\\sys\\B.DLL"})
    EXPECT_TRUE(Exists(inst + kept)) << kept;

  // Nothing placed (a reinstall whose files were all there): the earlier
  // installation and its list stay whole.
  WriteBytes(inst + "D.EXE", "earlier");
  WriteBytes(inst + "mgrremov.inf", removal);
  ReadLists(lists);
  s_.diskLists[0]->destination = 4;
  EXPECT_FALSE(MoveExpandedFiles(s_, s_.diskLists[0]));
  DeleteListedFiles(s_);
  EXPECT_EQ(ReadBytes(inst + "D.EXE"), "earlier");
  EXPECT_EQ(ReadBytes(inst + "mgrremov.inf"), removal);
}

}  // namespace
