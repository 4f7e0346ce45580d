// The installer's state, shared by every step of an installation: the
// lists of files on the four setup disks, the folders, the versions read
// from disk 1, and the dialog that owns the steps' message boxes.
#pragma once

#include <windows.h>

#include <cstdint>

// Where a listed file goes.
enum DestinationKind : int32_t {
  DEST_INSTALL_FOLDER = 1,
  DEST_SYSTEM_FOLDER = 2,
  DEST_DAO_FOLDER = 3,
};

// One file listed in dsksetup.inf, as installed (the expanded name).
struct DiskFileEntry {
  char name[16];
  int32_t destination;  // a DestinationKind
  DiskFileEntry* next;
  bool placed;  // moved into its folder by this run; only such a file is rolled back
};

constexpr int SETUP_DISK_COUNT = 4;

// The message of a step that fails without a text of its own.
constexpr char MSG_INTERNAL_ERROR[] = "内部ｴﾗｰが発生しました。";

// The message boxes of the steps, owned by the installer dialog and
// captioned with its title. Tests answer them from a script.
class SetupUi {
 public:
  virtual ~SetupUi() = default;
  virtual int Message(const char* text, UINT type) = 0;
};

struct SetupState {
  DiskFileEntry* diskLists[SETUP_DISK_COUNT] = {};  // disks 1 to 4; null when empty
  char installFolder[MAX_PATH] = "";
  char systemFolder[MAX_PATH] = "";
  char daoFolder[MAX_PATH] = "";
  char workFolder[MAX_PATH] = "";
  char managerVersion[16] = "";
  char dllVersion[16] = "";
  // The drive the disks are read from, with its backslash. Tests point it
  // at a folder of their own.
  const char* diskRoot = "a:\\";
  SetupUi* ui = nullptr;
};
