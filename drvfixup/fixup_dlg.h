// DRVFIXUP's main dialog: asks for confirmation; OK removes the settings of
// the HALTGATE driver service and asks for a restart.
#pragma once

#include "dialog/dialog.h"

class CFixupDlg : public CDialog {
 public:
  CFixupDlg();

 protected:
  void DoDataExchange(bool saveAndValidate) override;
  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnPaint();
  HCURSOR OnQueryDragIcon();

  HICON m_hIcon;

  DECLARE_MESSAGE_MAP()
};
