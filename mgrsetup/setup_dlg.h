// CONSETUP's dialog: asks whether to install; ｲﾝｽﾄｰﾙ checks the Windows
// version, lets the user choose the folder and installs with the dialog
// hidden.
#pragma once

#include "dialog/dialog.h"
#include "mgrsetup/setup_state.h"

class CManagerSetupDlg : public CDialog, private SetupUi {
 public:
  CManagerSetupDlg();

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

  void OnPaint();
  HCURSOR OnQueryDragIcon();

  DECLARE_MESSAGE_MAP()

 private:
  int Message(const char* text, UINT type) override { return MessageBox(text, type); }
  bool FindSystemFolders();
  bool ChooseInstallFolder();
  [[noreturn]] void Fail(int exitCode);

  SetupState m_state;
  HICON m_hIcon;
};
