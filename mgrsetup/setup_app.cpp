#include "mgrsetup/setup_app.h"

#include "mgrsetup/setup_dlg.h"

CManagerSetupApp theApp;

BOOL CManagerSetupApp::InitInstance() {
  CManagerSetupDlg dlg;
  RunMainDialog(dlg);
  return FALSE;  // no message loop: the program ends with its dialog
}
