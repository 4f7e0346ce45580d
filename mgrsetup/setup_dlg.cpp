#include "mgrsetup/setup_dlg.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "dialog/app.h"
#include "dialog/windows_version.h"
#include "mgrsetup/disk_files.h"
#include "mgrsetup/registration.h"
#include "mgrsetup/resource.h"

namespace {

constexpr char MSG_VERSION_QUERY_FAILED[] = "バージョン情報の取得に失敗しました。";
constexpr char MSG_NOT_WINDOWS_XP[] = "このプログラムは、WindowsXP上でなければ動作できません。";
constexpr char MSG_FOLDER_NOT_CHOSEN[] = "ﾄﾞﾗｲﾌﾞまたはﾌｫﾙﾀﾞの選択に失敗しました。";
constexpr char MSG_INSTALLED[] =
    "ｲﾝｽﾄｰﾙが正常に終了しました。\n servicesﾌｧｲﾙにﾎﾟｰﾄ番号が設定されていることを\n確認してください。";
constexpr char TITLE_CHOOSE_FOLDER[] = "ｲﾝｽﾄｰﾙするﾌｫﾙﾀﾞを選択してください。";
constexpr char DAO_FOLDER[] = "Program Files\\Common Files\\Microsoft Shared\\Dao";

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_UNSUPPORTED_WINDOWS = 2;

// An item list of the shell, freed with the shell's allocator.
class ItemList {
 public:
  explicit ItemList(LPITEMIDLIST item) : item_(item) {}
  ItemList(const ItemList&) = delete;
  ItemList& operator=(const ItemList&) = delete;
  ~ItemList() {
    if (item_) CoTaskMemFree(item_);
  }
  LPITEMIDLIST get() const { return item_; }

 private:
  LPITEMIDLIST item_;
};

}  // namespace

BEGIN_MESSAGE_MAP(CManagerSetupDlg, CDialog)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CManagerSetupDlg::CManagerSetupDlg()
    : CDialog(IDD_CONSETUP_DIALOG),
      m_hIcon(LoadIconA(AfxGetApp()->Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {
  m_state.ui = this;
}

BOOL CManagerSetupDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  return TRUE;
}

// The program ends here, with the dialog still hidden; nothing follows.
void CManagerSetupDlg::Fail(int exitCode) { std::exit(exitCode); }

void CManagerSetupDlg::OnOK() {
  switch (CheckWindowsVersion()) {
    case WindowsCheck::kQueryFailed:
      MessageBox(MSG_VERSION_QUERY_FAILED, MB_ICONHAND);
      Fail(EXIT_FAILED);
    case WindowsCheck::kUnsupported:
      MessageBox(MSG_NOT_WINDOWS_XP, MB_ICONHAND);
      Fail(EXIT_UNSUPPORTED_WINDOWS);
    case WindowsCheck::kSupported:
      break;
  }
  ShowWindow(m_hWnd, SW_HIDE);
  for (DiskFileEntry*& head : m_state.diskLists) head = nullptr;

  if (!FindSystemFolders()) {
    // Nothing is installed yet; a hidden dialog must not be left behind.
    MessageBox(MSG_INTERNAL_ERROR, MB_ICONHAND);
    Fail(EXIT_FAILED);
  }

  if (!ChooseInstallFolder()) {
    ShowWindow(m_hWnd, SW_SHOW);  // ｲﾝｽﾄｰﾙ again starts over, ｷｬﾝｾﾙ ends
    return;
  }
  if (!ReadDiskLists(m_state)) {
    RollBackInstall(m_state, {false, true, false, false});
    Fail(EXIT_FAILED);
  }
  if (!PlaceSetupFiles(m_state)) {
    RollBackInstall(m_state, {true, true, true, false});
    Fail(EXIT_FAILED);
  }
  if (!WriteManagerSettings(m_state)) {
    RollBackInstall(m_state, {true, true, true, true});
    Fail(EXIT_FAILED);
  }
  CreateStartMenuShortcut(m_state);
  RollBackInstall(m_state, {true, true, false, false});  // the work folder and the lists
  MessageBox(MSG_INSTALLED, MB_ICONASTERISK);
  CDialog::OnOK();
}

// The system folder, and the DAO folder below the system drive's root
// ("C:\"); it is neither looked up nor created.
bool CManagerSetupDlg::FindSystemFolders() {
  const UINT n = GetSystemDirectoryA(m_state.systemFolder, sizeof m_state.systemFolder);
  if (n == 0 || n >= sizeof m_state.systemFolder) return false;
  const char* afterRoot = std::strchr(m_state.systemFolder, '\\');
  const size_t root = afterRoot ? afterRoot - m_state.systemFolder + 1 : 0;
  if (root + sizeof DAO_FOLDER > sizeof m_state.daoFolder) return false;
  std::memcpy(m_state.daoFolder, m_state.systemFolder, root);
  std::memcpy(m_state.daoFolder + root, DAO_FOLDER, sizeof DAO_FOLDER);
  return true;
}

bool CManagerSetupDlg::ChooseInstallFolder() {
  char displayName[MAX_PATH] = "";
  BROWSEINFOA browse = {};
  browse.pszDisplayName = displayName;
  browse.lpszTitle = TITLE_CHOOSE_FOLDER;
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  const ItemList item(SHBrowseForFolderA(&browse));
  if (!item.get()) return false;
  if (!SHGetPathFromIDListA(item.get(), m_state.installFolder)) {
    MessageBox(MSG_FOLDER_NOT_CHOSEN, MB_ICONHAND);
    return false;
  }
  return true;
}

void CManagerSetupDlg::OnPaint() {
  if (!PaintMinimisedIcon(m_hIcon)) Default();
}

HCURSOR CManagerSetupDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
