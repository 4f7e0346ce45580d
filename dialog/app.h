// The application object: one global instance per program, whose
// InitInstance runs the main dialog modally and returns FALSE, so that the
// program ends when the dialog closes. There is no message loop of its own.
#pragma once

#include <windows.h>

#include "dialog/message_map.h"

class CDialog;

// The string resource that names the application, as the message-box caption.
constexpr UINT AFX_IDS_APP_TITLE = 57344;
// The Help command, as a Help button sends it.
constexpr UINT ID_HELP = 57670;

class CWinApp : public CCmdTarget {
 public:
  CWinApp();  // registers the one global instance
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() = 0;

  // String resource AFX_IDS_APP_TITLE, else the program's file name without
  // extension; CP932 text.
  const char* AppTitle() const { return m_title; }
  HINSTANCE Instance() const { return m_hInstance; }

  CDialog* m_pMainWnd = nullptr;

 protected:
  // Shows dlg modally as the main window, whose owner every later dialog
  // and message box gets; returns how it ended (IDOK, IDCANCEL, -1 if it
  // could not be made).
  INT_PTR RunMainDialog(CDialog& dlg);

  // The kit ships no help file, so Help has nothing to open: it does
  // nothing rather than report a missing file.
  void OnHelp() {}

 private:
  friend int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);
  void Start(HINSTANCE instance);

  HINSTANCE m_hInstance = nullptr;
  char m_title[MAX_PATH] = {};
};

CWinApp* AfxGetApp();
