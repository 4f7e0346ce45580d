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

// The scenarios state the programs' texts as literals: the sources become
// code page 932, which these bytes check, so that a wrong conversion cannot pass.
static_assert(sizeof("ｴ削") == 4 && "ｴ削"[0] == '\xB4' && "ｴ削"[1] == '\x8D' && "ｴ削"[2] == '\xED');

namespace e2e {

using Texts = std::vector<std::string>;

// The lines of the driver's listing, split at tabs (see uidriver.cpp):
//   window  STYLE EXSTYLE CLIENT_W CLIENT_H OWNER TEXT CLIENT_SCREEN_X CLIENT_SCREEN_Y
//   control CLASS ID STYLE X Y W H ICON_SHOWN TEXT
std::vector<Texts> Rows(const std::string& out);

// uidriver.exe with these arguments, at most 30 s.
RunResult Driver(const WinePrefix& prefix, Texts args);

// A virtual desktop, so that screenshots show captions, and the Japanese
// dialog font mapped to IPA Gothic; the prefix started anew to take them.
bool PrepareDesktop(WinePrefix& prefix);

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

// The REGEDIT4 text that has Wine show PROGRAM (such as "DRVFIXUP.exe") the
// Windows VERSION (win98, nt40, win2k, ...); with "" the prefix's own.
std::string AppDefaults(const std::string& program, const std::string& version);

// The base of a suite of dialog scenarios: one private X display and one
// Wine prefix with a virtual desktop (build/wine/NAME) for all its tests.
class DesktopSuite : public ::testing::Test {
 protected:
  // Call through ASSERT_NO_FATAL_FAILURE from SetUpTestSuite.
  static void StartDesktop(const std::string& name);
  static void TearDownTestSuite();

  // A program of the Windows build copied to C:\fixture.
  static void CopyToFixtures(const std::string& program);
  // The screen as build/screenshots/NAME.png.
  static void Shot(const std::string& name);
  // The message box now shown, checked and answered: its caption, owner and
  // text, its visible buttons as "ID:TEXT " each, the colour of its icon
  // read off the screen ("red" stop, "yellow" exclamation, "blue"
  // information); then button `click` pressed. Screenshot NAME.
  static void AnswerBox(const std::string& caption, const std::string& owner,
                        const std::string& text, const std::string& icon, const std::string& shot,
                        const char* click = "1", const std::string& buttons = "1:OK ");
  static std::vector<std::string> RegLines(const std::string& key, const std::string& name = "") {
    return e2e::RegLines(*prefix_, key, name);
  }
  static std::filesystem::path C() { return std::filesystem::path(prefix_->dir()) / "drive_c"; }
  static RunResult Wine(const Texts& args) { return prefix_->Wine(args); }

  static inline std::unique_ptr<Xvfb> xvfb_;
  static inline std::unique_ptr<WinePrefix> prefix_;
};

}  // namespace e2e
