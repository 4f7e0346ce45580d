#include "drvfixup/fixup_app.h"

#include "drvfixup/fixup_dlg.h"

BEGIN_MESSAGE_MAP(CFixupApp, CWinApp)
  ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CFixupApp theApp;

BOOL CFixupApp::InitInstance() {
  CFixupDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();  // the result does not matter: OnOK did the work
  m_pMainWnd = nullptr;
  return FALSE;
}
