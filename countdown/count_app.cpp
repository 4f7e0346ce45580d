#include "countdown/count_app.h"

#include <commctrl.h>

#include <cstdlib>

#include "countdown/count_dlg.h"
#include "countdown/countdown_rule.h"

namespace {

// The agent reads 0 as "go ahead" and any other code as "cancel".
constexpr int EXIT_POWER_OFF = 0;
constexpr int EXIT_CANCELLED = 1;
constexpr int EXIT_BAD_COMMAND_LINE = 2;

}  // namespace

CCountdownApp theApp;

BOOL CCountdownApp::InitInstance() {
  // Nothing is shown: nobody may be there to read a message.
  const uint32_t seconds = CountdownSeconds(GetCommandLineA());
  if (seconds == 0) std::exit(EXIT_BAD_COMMAND_LINE);
  InitCommonControls();  // the progress bar's window class
  CCountdownDlg dlg(seconds);
  const INT_PTR result = RunMainDialog(dlg);
  if (result == -1) {
    // No dialog, so nobody could cancel: the time runs out unseen.
    Sleep(seconds * 1000);
    std::exit(EXIT_POWER_OFF);
  }
  std::exit(result == IDOK ? EXIT_POWER_OFF : EXIT_CANCELLED);
}
