#include "uninstall/remove_app.h"

#include "uninstall/remove_dlg.h"

CAgentRemoveApp theApp;

BOOL CAgentRemoveApp::InitInstance() {
  CAgentRemoveDlg dlg;
  RunMainDialog(dlg);
  return FALSE;  // no message loop: the program ends with its dialog
}
