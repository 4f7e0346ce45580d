#include "uninstall/remove_app.h"

#include "uninstall/remove_dlg.h"

CAgentRemoveApp theApp;

BOOL CAgentRemoveApp::InitInstance() {
  CAgentRemoveDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();  // the result does not matter: OnOK did the work
  m_pMainWnd = nullptr;
  return FALSE;
}
