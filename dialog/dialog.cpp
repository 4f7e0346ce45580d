#include "dialog/dialog.h"

#include "dialog/app.h"

BEGIN_MESSAGE_MAP(CDialog, CCmdTarget)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CDialog* parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
  CWinApp* app = AfxGetApp();
  HWND owner = nullptr;
  if (m_parent) {
    owner = m_parent->m_hWnd;
  } else if (app && app->m_pMainWnd && app->m_pMainWnd != this) {
    owner = app->m_pMainWnd->m_hWnd;
  }
  HINSTANCE instance = app ? app->Instance() : GetModuleHandleA(nullptr);
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(m_templateId), owner, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

int CDialog::MessageBox(const char* text, UINT type) {
  CWinApp* app = AfxGetApp();
  return ::MessageBoxA(m_hWnd, text, app ? app->AppTitle() : nullptr, type);
}

void CDialog::DoDataExchange(bool) {}

BOOL CDialog::OnInitDialog() {
  DoDataExchange(false);
  return TRUE;
}

void CDialog::OnOK() {
  DoDataExchange(true);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::PaintMinimisedIcon(HICON icon) {
  if (!IsIconic(m_hWnd)) return false;
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rect;
  GetClientRect(m_hWnd, &rect);
  const int x = (rect.right - rect.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rect.bottom - rect.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon);
  EndPaint(m_hWnd, &ps);
  return true;
}

void CDialog::CenterOnOwner() {
  RECT area;
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  } else {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT self;
  GetWindowRect(m_hWnd, &self);
  const int w = self.right - self.left, h = self.bottom - self.top;
  SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - w) / 2,
               area.top + (area.bottom - area.top - h) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->m_hWnd = hwnd;
  } else {
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;  // messages before WM_INITDIALOG
  INT_PTR handled = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) self->m_hWnd = nullptr;
  return handled;
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    RECT before, after;
    GetWindowRect(m_hWnd, &before);
    const BOOL result = OnInitDialog();
    GetWindowRect(m_hWnd, &after);
    if (EqualRect(&before, &after) && !(GetWindowLongA(m_hWnd, GWL_STYLE) & DS_CENTER)) {
      CenterOnOwner();
    }
    return result;
  }
  m_default = false;
  LRESULT result = 0;
  bool handled = Dispatch(message, wParam, lParam, &result);
  if (!handled && message == WM_COMMAND && AfxGetApp()) {
    handled = AfxGetApp()->Dispatch(message, wParam, lParam, &result);
  }
  if (!handled || m_default) return FALSE;
  // One of the few messages whose answer a dialog procedure returns directly.
  if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
  SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}
