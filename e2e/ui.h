// The dialog side of the end-to-end harness: the UI driver (uidriver.exe)
// run in a prefix, its listing parsed, and the checks every dialog program
// shares (the message boxes, where a template's dialog units put controls).
#pragma once

#include <string>
#include <vector>

#include "e2e/harness.h"

namespace e2e {

using Texts = std::vector<std::string>;

// The lines of the driver's listing, split at tabs (see uidriver.cpp):
//   window  STYLE EXSTYLE CLIENT_W CLIENT_H OWNER TEXT
//   control CLASS ID STYLE X Y W H ICON_SHOWN TEXT
std::vector<Texts> Rows(const std::string& out);

// uidriver.exe with these arguments, at most 30 s.
RunResult Driver(const WinePrefix& prefix, Texts args);

// A virtual desktop, so that screenshots show captions, and the Japanese
// dialog font mapped to IPA Gothic.
bool PrepareDesktop(const WinePrefix& prefix);

// Pixels of a template's dialog units, from the client size the dialog got
// for a template of units_w x units_h (the dialog manager's MulDiv rounding).
struct DialogUnits {
  DialogUnits(const Texts& window, int units_w, int units_h);
  std::string X(int unit) const { return std::to_string((unit * bx + 2) / 4); }
  std::string Y(int unit) const { return std::to_string((unit * by + 4) / 8); }
  int bx, by;
};

// The message box shown: captioned and owned as given, with the text, only
// an OK button, and an icon or none.
void ExpectMessageBox(const std::vector<Texts>& rows, const std::string& caption,
                      const std::string& owner, const std::string& text, bool icon);

}  // namespace e2e
