// The dialog side of the end-to-end harness: the UI driver (uidriver.exe)
// run in a prefix, its listing parsed, and the checks every dialog program
// shares (the message boxes, where a template's dialog units put controls).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace e2e {

using Texts = std::vector<std::string>;

// The lines of the driver's listing, split at tabs (see uidriver.cpp):
//   window  STYLE EXSTYLE CLIENT_W CLIENT_H OWNER TEXT CLIENT_SCREEN_X CLIENT_SCREEN_Y
//   control CLASS ID STYLE X Y W H ICON_SHOWN TEXT
std::vector<Texts> Rows(const std::string& out);

// uidriver.exe with these arguments, at most 30 s.
RunResult Driver(const WinePrefix& prefix, Texts args);

// A virtual desktop, so that screenshots show captions, and the Japanese
// dialog font mapped to IPA Gothic.
bool PrepareDesktop(const WinePrefix& prefix);

// One control of a dialog template, in tab order, in dialog units; an icon
// (w and h 0) is shown at 32 x 32 pixels.
struct TemplateControl {
  const char* cls;
  const char* id;
  const char* style;
  int x, y, w, h;
  std::string text;
};

// The dialog listed in rows: its caption, a modal popup frame with a system
// menu and no minimise or maximise box, the size of units_w x units_h, and
// the controls where the template's dialog units put them.
void ExpectDialog(const std::vector<Texts>& rows, const std::string& caption, int units_w,
                  int units_h, const std::vector<TemplateControl>& controls);

// The message box shown: captioned and owned as given, with the text, the
// visible buttons as "ID:TEXT " each (only OK unless given), and an icon or none.
void ExpectMessageBox(const std::vector<Texts>& rows, const std::string& caption,
                      const std::string& owner, const std::string& text, bool icon,
                      const std::string& buttons = "1:OK ");

// The colour that most of the shown icon's pixels have on the screen:
// "red" (the stop icon), "yellow" (the exclamation icon), "blue" (the
// information icon), or "" when there is no icon or none of them. Another process cannot read a window's icon under
// Wine, so the screen is read instead.
std::string IconColour(const std::string& display, const std::vector<Texts>& rows);

// The base of a suite of dialog scenarios: one private X display and one
// Wine prefix with a virtual desktop (build/wine/NAME) for all its tests.
class DesktopSuite : public ::testing::Test {
 protected:
  // Call through ASSERT_NO_FATAL_FAILURE from SetUpTestSuite.
  static void StartDesktop(const std::string& name);
  static void TearDownTestSuite();

  // A program of the Windows build copied to C:\fixture.
  static void CopyToFixtures(const std::string& program);
  static std::filesystem::path C() { return std::filesystem::path(prefix_->dir()) / "drive_c"; }
  static RunResult Wine(const Texts& args) { return prefix_->Wine(args); }

  static inline std::unique_ptr<Xvfb> xvfb_;
  static inline std::unique_ptr<WinePrefix> prefix_;
};

}  // namespace e2e
