#include "uninstall/remove_dlg.h"

#include "dialog/app.h"
#include "uninstall/removal.h"
#include "uninstall/service_removal.h"

namespace {

constexpr char MSG_NOT_WINDOWS_NT[] = "このプログラムは Windows NT 上でなければ動作できません.";
constexpr char MSG_SERVICE_NOT_REMOVED[] =
    "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ サービスの削除に失敗しました.\nエラーコード：%d";
constexpr char MSG_PROGRAM_IN_USE[] =
    "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ の削除に失敗しました.\nプログラムが実行中である可能性があります.";
constexpr char MSG_REGISTRY_INCOMPLETE[] =
    "ORVEL Nimbrel ｴｰｼﾞｪﾝﾄ "
    "のレジストリ情報が\n見つからないため、レジストリ情報は削除できませんでした.";

}  // namespace

BEGIN_MESSAGE_MAP(CAgentRemoveDlg, CDialog)
ON_COMMAND(ID_HELP, OnHelp)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CAgentRemoveDlg::CAgentRemoveDlg()
    : CDialog(IDD_AGTREMOV_DIALOG),
      m_hIcon(LoadIconA(AfxGetApp()->Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

BOOL CAgentRemoveDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  return TRUE;  // the focus goes to ｷｬﾝｾﾙ, the first tab stop
}

// Only 削除 comes here: Enter goes to the default button, ｷｬﾝｾﾙ.
void CAgentRemoveDlg::OnOK() { RemoveAgent(); }

void CAgentRemoveDlg::OnHelp() {
  CRemoveHelpDlg help;
  help.DoModal();
}

// Removes the agent and reports the outcome; the program ends after it,
// whatever it was.
void CAgentRemoveDlg::RemoveAgent() {
  HCURSOR cursor = GetCursor();
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  const RemovalOutcome outcome = RemoveAgentSettings();
  SetCursor(cursor);
  switch (outcome) {
    case RemovalOutcome::kNotWindowsNt:
      MessageBox(MSG_NOT_WINDOWS_NT, MB_ICONHAND);
      break;
    case RemovalOutcome::kServiceNotRemoved: {
      char text[256];
      wsprintfA(text, MSG_SERVICE_NOT_REMOVED, static_cast<int>(dwLastError));
      MessageBox(text, MB_ICONHAND);
      break;
    }
    case RemovalOutcome::kProgramInUse:
      MessageBox(MSG_PROGRAM_IN_USE, MB_ICONHAND);
      break;
    case RemovalOutcome::kCompleted: {
      if (bRegistryIncomplete) MessageBox(MSG_REGISTRY_INCOMPLETE, MB_ICONEXCLAMATION);
      CRemoveDoneDlg done;
      done.DoModal();
      break;
    }
  }
  CDialog::OnOK();
}

void CAgentRemoveDlg::OnPaint() {
  if (!PaintMinimisedIcon(m_hIcon)) Default();
}

HCURSOR CAgentRemoveDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
