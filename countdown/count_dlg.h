// PWRCOUNT's dialog: warns of the power-off and counts the seconds down;
// OK (or the end of the time) lets it go ahead, Cancel stops it.
#pragma once

#include <cstdint>

#include "dialog/dialog.h"

class CCountdownDlg : public CDialog {
 public:
  explicit CCountdownDlg(uint32_t seconds);

 protected:
  BOOL OnInitDialog() override;

  void OnTimer(UINT id, LPARAM);
  void OnPaint();
  HCURSOR OnQueryDragIcon();

  void ShowSecondsLeft(uint32_t left);

  HICON m_hIcon;
  uint32_t m_seconds;
  uint32_t m_start = 0;  // GetTickCount at the start
  uint32_t m_shown = 0;  // the seconds left on the screen

  DECLARE_MESSAGE_MAP()
};
