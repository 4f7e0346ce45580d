#include "drvfixup/fixup_app.h"

#include "drvfixup/fixup_dlg.h"

BEGIN_MESSAGE_MAP(CFixupApp, CWinApp)
  ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CFixupApp theApp;

BOOL CFixupApp::InitInstance() {
  CFixupDlg dlg;
  RunMainDialog(dlg);
  return FALSE;  // no message loop: the program ends with its dialog
}
