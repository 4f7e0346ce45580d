#include "drvfixup/fixup_dlg.h"

#include <cstdlib>

#include "dialog/app.h"
#include "dialog/windows_version.h"
#include "drvfixup/driver_fixup.h"
#include "drvfixup/resource.h"

namespace {

constexpr char MSG_VERSION_QUERY_FAILED[] = "バージョン情報の取得に失敗しました。";
constexpr char MSG_NOT_WINDOWS_XP[] = "このプログラムは、WindowsXP上でなければ動作できません。";
constexpr char MSG_RESTART[] = "設定を有効にするには、コンピュータを再起動する必要があります。";

constexpr int EXIT_VERSION_QUERY_FAILED = 1;
constexpr int EXIT_UNSUPPORTED_WINDOWS = 2;

}  // namespace

BEGIN_MESSAGE_MAP(CFixupDlg, CDialog)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CFixupDlg::CFixupDlg()
    : CDialog(IDD_DRVFIXUP_DIALOG),
      m_hIcon(LoadIconA(AfxGetApp()->Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

void CFixupDlg::DoDataExchange(bool saveAndValidate) { CDialog::DoDataExchange(saveAndValidate); }

BOOL CFixupDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  return TRUE;
}

void CFixupDlg::OnOK() {
  switch (CheckWindowsVersion()) {
    case WindowsCheck::kQueryFailed:
      MessageBox(MSG_VERSION_QUERY_FAILED, MB_ICONHAND);
      std::exit(EXIT_VERSION_QUERY_FAILED);
    case WindowsCheck::kUnsupported:
      MessageBox(MSG_NOT_WINDOWS_XP, MB_ICONHAND);
      std::exit(EXIT_UNSUPPORTED_WINDOWS);
    case WindowsCheck::kSupported:
      break;
  }
  RemoveDriverSettings(HKEY_LOCAL_MACHINE);
  MessageBox(MSG_RESTART, MB_OK);
  CDialog::OnOK();
}

void CFixupDlg::OnPaint() {
  if (!PaintMinimisedIcon(m_hIcon)) Default();
}

HCURSOR CFixupDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
