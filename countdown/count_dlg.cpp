#include "countdown/count_dlg.h"

#include <commctrl.h>

#include <cstdio>

#include "countdown/countdown_rule.h"
#include "countdown/resource.h"
#include "dialog/app.h"

namespace {

constexpr char MSG_SECONDS_LEFT[] = "あと %lu 秒で電源が切れます。";
constexpr UINT_PTR kTimerId = 1;
// Well under a second, so that the text changes within a fifth of a second
// of the clock; the count itself is read from the clock, not from the ticks.
constexpr UINT kTimerMs = 200;

}  // namespace

BEGIN_MESSAGE_MAP(CCountdownDlg, CDialog)
  ON_MESSAGE(WM_TIMER, OnTimer)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CCountdownDlg::CCountdownDlg(uint32_t seconds)
    : CDialog(IDD_PWRCOUNT_DIALOG),
      m_hIcon(LoadIconA(AfxGetApp()->Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_seconds(seconds) {}

BOOL CCountdownDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  m_start = GetTickCount();
  SendDlgItemMessageA(m_hWnd, IDC_TIME_BAR, PBM_SETRANGE32, 0, m_seconds);
  ShowSecondsLeft(m_seconds);
  SetTimer(m_hWnd, kTimerId, kTimerMs, nullptr);
  // Over every other window, and in front, whatever the user was doing.
  SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(m_hWnd);
  SetFocus(GetDlgItem(m_hWnd, IDCANCEL));
  return FALSE;  // the focus is set: on Cancel
}

void CCountdownDlg::OnTimer(UINT id, LPARAM) {
  if (id != kTimerId) return;
  // Unsigned subtraction: right across the wrap of the tick count too.
  const uint32_t left = SecondsLeft(m_seconds, GetTickCount() - m_start);
  if (left != m_shown) ShowSecondsLeft(left);
  if (left == 0) {
    KillTimer(m_hWnd, kTimerId);
    EndDialog(IDOK);  // the time is out: the power-off goes ahead
  }
}

void CCountdownDlg::ShowSecondsLeft(uint32_t left) {
  char text[64];
  std::snprintf(text, sizeof text, MSG_SECONDS_LEFT, static_cast<unsigned long>(left));
  SetDlgItemTextA(m_hWnd, IDC_SECONDS_LEFT, text);
  SendDlgItemMessageA(m_hWnd, IDC_TIME_BAR, PBM_SETPOS, left, 0);
  m_shown = left;
}

void CCountdownDlg::OnPaint() {
  if (!PaintMinimisedIcon(m_hIcon)) Default();
}

HCURSOR CCountdownDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
