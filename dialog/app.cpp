#include "dialog/app.h"

#include <cstring>

#include "dialog/dialog.h"

namespace {

CWinApp* pTheApp = nullptr;

}  // namespace

CWinApp::CWinApp() { pTheApp = this; }

CWinApp* AfxGetApp() { return pTheApp; }

INT_PTR CWinApp::RunMainDialog(CDialog& dlg) {
  m_pMainWnd = &dlg;
  const INT_PTR result = dlg.DoModal();
  m_pMainWnd = nullptr;
  return result;
}

void CWinApp::Start(HINSTANCE instance) {
  m_hInstance = instance;
  if (LoadStringA(instance, AFX_IDS_APP_TITLE, m_title, sizeof m_title) > 0) return;
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  const char* name = path;
  for (const char* p = path; *p; p = CharNextA(p)) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  lstrcpynA(m_title, name, sizeof m_title);
  // '.' (0x2E) is never a CP932 trail byte, so a byte search is safe.
  if (char* dot = std::strrchr(m_title, '.')) *dot = '\0';
}

// The programs' entry point lives with the application object, so linking
// a CWinApp-derived global is all a program needs.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!pTheApp) return 1;
  pTheApp->Start(instance);
  pTheApp->InitInstance();
  return 0;
}
