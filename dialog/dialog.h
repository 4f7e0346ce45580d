// A modal dialog built from a dialog template in the program's resources.
// Its message map starts with IDOK -> OnOK and IDCANCEL -> OnCancel;
// commands it does not handle go on to the application's map.
#pragma once

#include <windows.h>

#include "dialog/message_map.h"

class CDialog : public CCmdTarget {
 public:
  // Without a parent the application's main window, if any, owns the dialog.
  explicit CDialog(UINT templateId, CDialog* parent = nullptr);
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog until EndDialog; its result, or -1 if it cannot be made.
  INT_PTR DoModal();
  void EndDialog(int result);
  HWND GetSafeHwnd() const { return m_hWnd; }

  // A message box owned by the dialog, captioned with the application title.
  int MessageBox(const char* text, UINT type = MB_OK);

 protected:
  // Moves data between the controls and members; the framework calls it
  // with false from OnInitDialog and with true from OnOK.
  virtual void DoDataExchange(bool saveAndValidate);
  // Returns TRUE to let the dialog manager focus the first tab stop. A
  // dialog that OnInitDialog did not move is then centred on its owner.
  virtual BOOL OnInitDialog();
  virtual void OnOK();      // exchanges data, then ends the dialog with IDOK
  virtual void OnCancel();  // ends the dialog with IDCANCEL

  // Inside a handler: leave the message to the dialog manager's default.
  void Default() { m_default = true; }
  // The WM_PAINT of a dialog with its own icon: draws the icon centred over
  // an erased icon background while minimised; false when not minimised.
  bool PaintMinimisedIcon(HICON icon);

  HWND m_hWnd = nullptr;

  DECLARE_MESSAGE_MAP()

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CenterOnOwner();

  UINT m_templateId;
  CDialog* m_parent;
  bool m_default = false;
};
