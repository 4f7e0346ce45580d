// AGTREMOV's dialogs: the main one asks for confirmation and runs the
// removal from 削除; the help and completion dialogs only show their texts.
#pragma once

#include "dialog/dialog.h"
#include "uninstall/resource.h"

class CAgentRemoveDlg : public CDialog {
 public:
  CAgentRemoveDlg();

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnHelp();
  void OnPaint();
  HCURSOR OnQueryDragIcon();

  HICON m_hIcon;

  DECLARE_MESSAGE_MAP()

 private:
  void RemoveAgent();
};

class CRemoveHelpDlg : public CDialog {
 public:
  CRemoveHelpDlg() : CDialog(IDD_REMOVE_HELP) {}
};

class CRemoveDoneDlg : public CDialog {
 public:
  CRemoveDoneDlg() : CDialog(IDD_REMOVE_DONE) {}
};
