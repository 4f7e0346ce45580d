// Message routing through chained maps, without a window.
#include "dialog/dialog.h"

#include <gtest/gtest.h>

#include "dialog/app.h"

namespace {

class CProbeDlg : public CDialog {
 public:
  CProbeDlg() : CDialog(1) {}
  int ok = 0, help = 0, paint = 0;
  UINT sysId = 0;
  LPARAM sysParam = 0;

  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam = 0, bool* handled = nullptr) {
    LRESULT result = -1;
    const bool h = Dispatch(message, wParam, lParam, &result);
    if (handled) *handled = h;
    return result;
  }

 protected:
  void OnOK() override { ++ok; }
  void OnHelp() { ++help; }
  void OnPaint() { ++paint; }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(0x1234); }
  void OnSysCommand(UINT id, LPARAM param) { sysId = id, sysParam = param; }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeDlg, CDialog)
  ON_COMMAND(ID_HELP, OnHelp)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

TEST(MessageMap, RoutesCommandsThroughTheChainToVirtualOverrides) {
  CProbeDlg dlg;
  bool handled = false;
  dlg.Send(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, &handled);  // the base map's entry
  EXPECT_TRUE(handled);
  EXPECT_EQ(dlg.ok, 1);
  dlg.Send(WM_COMMAND, MAKEWPARAM(ID_HELP, BN_CLICKED));
  EXPECT_EQ(dlg.help, 1);
  // A notification that is not a click is no command.
  dlg.Send(WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS), 0, &handled);
  EXPECT_FALSE(handled);
  dlg.Send(WM_COMMAND, MAKEWPARAM(4711, BN_CLICKED), 0, &handled);
  EXPECT_FALSE(handled);
  EXPECT_EQ(dlg.ok, 1);
}

TEST(MessageMap, PassesMessageArgumentsAndResults) {
  CProbeDlg dlg;
  EXPECT_EQ(dlg.Send(WM_QUERYDRAGICON, 0), 0x1234);
  dlg.Send(WM_PAINT, 0);
  EXPECT_EQ(dlg.paint, 1);
  dlg.Send(WM_SYSCOMMAND, SC_CLOSE, 0x00050006);
  EXPECT_EQ(dlg.sysId, static_cast<UINT>(SC_CLOSE));
  EXPECT_EQ(dlg.sysParam, 0x00050006);
  bool handled = true;
  dlg.Send(WM_TIMER, 1, 0, &handled);
  EXPECT_FALSE(handled);
}

}  // namespace
