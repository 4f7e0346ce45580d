#include "e2e/ui.h"

#include <gtest/gtest.h>

#include <sstream>

namespace e2e {

namespace {

// A field as the program holds it: the driver writes \\, \n, \r and \t.
std::string Unescape(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      text += field[i];
      continue;
    }
    const char c = field[++i];
    text += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return text;
}

}  // namespace

std::vector<Texts> Rows(const std::string& out) {
  std::vector<Texts> rows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    rows.emplace_back();
    std::istringstream fields(line + "\t");
    for (std::string f; std::getline(fields, f, '\t');) rows.back().push_back(Unescape(f));
  }
  return rows;
}

RunResult Driver(const WinePrefix& prefix, Texts args) {
  args.insert(args.begin(), WinBinDir(ORVEL_SOURCE_DIR) + "/uidriver.exe");
  return prefix.Wine(args, 30000);
}

bool PrepareDesktop(const WinePrefix& prefix) {
  return prefix.ImportRegistry(
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n\"Desktop\"=\"Default\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n\"Default\"=\"1024x768\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
      "\"\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e\"=\"IPAPGothic\"\r\n\r\n");
}

DialogUnits::DialogUnits(const Texts& window, int units_w, int units_h)
    : bx((std::stoi(window.at(3)) * 8 + units_w) / (2 * units_w)),
      by((std::stoi(window.at(4)) * 16 + units_h) / (2 * units_h)) {}

void ExpectMessageBox(const std::vector<Texts>& rows, const std::string& caption,
                      const std::string& owner, const std::string& text, bool icon) {
  ASSERT_FALSE(rows.empty()) << "no message box";
  EXPECT_EQ(rows[0][6], caption);
  EXPECT_EQ(rows[0][5], owner) << "not owned by the dialog";
  std::string message, buttons;
  int icons = 0;
  for (const Texts& c : rows) {
    if (c[0] != "control") continue;
    if (c[2] == "65535") message = c[9];
    if (c[1] == "Button" && (std::stoul(c[3], nullptr, 16) & 0x10000000))
      buttons += c[2] + ":" + c[9] + " ";
    icons += c[8] == "1";
  }
  EXPECT_EQ(message, text);
  EXPECT_EQ(buttons, "1:OK ");  // visible ones
  EXPECT_EQ(icons, icon ? 1 : 0);
}

}  // namespace e2e
