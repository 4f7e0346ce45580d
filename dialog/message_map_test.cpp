// Message routing through chained maps, without a window.
#include "dialog/dialog.h"

#include <gtest/gtest.h>

#include <string>

#include "dialog/app.h"

namespace {

class CProbeDlg : public CDialog {
 public:
  CProbeDlg() : CDialog(1) {}
  std::string calls;  // what the handlers were called with

 protected:
  void OnOK() override { calls += "OK "; }
  void OnHelp() { calls += "help "; }
  void OnPaint() { calls += "paint "; }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(0x1234); }
  void OnSysCommand(UINT id, LPARAM param) {
    calls += std::to_string(id) + "," + std::to_string(param);
  }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeDlg, CDialog)
  ON_COMMAND(ID_HELP, OnHelp)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

TEST(MessageMap, RoutesThroughTheChainAndPassesArgumentsAndResults) {
  const struct { UINT message; WPARAM w; LPARAM l; bool handled; LRESULT result; } sends[] = {
      {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, true, 0},  // the base map's entry, overridden
      {WM_COMMAND, MAKEWPARAM(ID_HELP, BN_CLICKED), 0, true, 0},
      {WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS), 0, false, -1},  // a notification is no command
      {WM_COMMAND, MAKEWPARAM(4711, BN_CLICKED), 0, false, -1},   // -1: the result left alone
      {WM_PAINT, 0, 0, true, 0},
      {WM_QUERYDRAGICON, 0, 0, true, 0x1234},
      {WM_SYSCOMMAND, SC_CLOSE, 0x00050006, true, 0},
      {WM_TIMER, 1, 0, false, -1},
  };
  CProbeDlg dlg;
  for (const auto& s : sends) {
    LRESULT result = -1;
    EXPECT_EQ(dlg.Dispatch(s.message, s.w, s.l, &result), s.handled) << s.message;
    EXPECT_EQ(result, s.result) << s.message;
  }
  EXPECT_EQ(dlg.calls, "OK help paint " + std::to_string(SC_CLOSE) + ",327686");
}

}  // namespace
