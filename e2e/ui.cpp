#include "e2e/ui.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
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

bool PrepareDesktop(WinePrefix& prefix) {
  const bool imported = prefix.ImportRegistry(
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n\"Desktop\"=\"Default\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n\"Default\"=\"1024x768\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
      "\"\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e\"=\"IPAPGothic\"\r\n\r\n");
  // A new prefix's desktop is up before the settings are in: start it anew.
  prefix.Stop();
  return imported && prefix.Start();
}

void ExpectDialog(const std::vector<Texts>& rows, const std::string& caption, int units_w,
                  int units_h, const std::vector<TemplateControl>& controls) {
  ASSERT_FALSE(rows.empty()) << "no dialog";
  const Texts& w = rows[0];
  EXPECT_EQ(w[6], caption);
  const unsigned long style = std::stoul(w[1], nullptr, 16), popup = 0x90C800C0;
  EXPECT_EQ(style & popup, popup);    // popup visible caption sysmenu modal font
  EXPECT_EQ(style & 0x00030000, 0u);  // no minimise or maximise box
  // The dialog manager places MulDiv(unit, base, 4) across and MulDiv(unit,
  // base, 8) down; the base units follow from the client size.
  const int bx = (std::stoi(w[3]) * 8 + units_w) / (2 * units_w);
  const int by = (std::stoi(w[4]) * 16 + units_h) / (2 * units_h);
  auto x = [bx](int unit) { return std::to_string((unit * bx + 2) / 4); };
  auto y = [by](int unit) { return std::to_string((unit * by + 4) / 8); };
  EXPECT_EQ(w[3] + "x" + w[4], x(units_w) + "x" + y(units_h));
  std::vector<Texts> want;
  for (const TemplateControl& c : controls) {
    const bool icon = c.w == 0;
    want.push_back({"control", c.cls, c.id, c.style, x(c.x), y(c.y), icon ? "32" : x(c.w),
                    icon ? "32" : y(c.h), icon ? "1" : "0", c.text});
  }
  std::vector<Texts> got(rows.begin() + 1, rows.end());
  for (Texts& c : got) {
    if (c.size() == 10 && c[8] == "1") c[9] = "";  // an icon's text names its resource
  }
  EXPECT_EQ(got, want);
}

namespace {

std::string IconColourNow(const std::string& display, const std::vector<Texts>& rows) {
  for (const Texts& c : rows) {
    if (c[0] != "control" || c[8] != "1") continue;
    const int x = std::stoi(rows[0][7]) + std::stoi(c[4]);
    const int y = std::stoi(rows[0][8]) + std::stoi(c[5]);
    const std::string ppm = "/tmp/orvel-icon-" + std::to_string(getpid()) + ".ppm";
    const std::string crop = c[6] + "x" + c[7] + "+" + std::to_string(x) + "+" + std::to_string(y);
    const Texts import = {"import", "-display", display,  "-window", "root",
                          "-crop",  crop,       "-depth", "8",       "ppm:" + ppm};
    if (Run(import, 30000).exit_code != 0) return "";
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    const std::string pixels((std::istreambuf_iterator<char>(in)), {});
    std::remove(ppm.c_str());
    if (magic != "P6" || max != 255 || pixels.size() < static_cast<size_t>(w) * h * 3) return "";
    int red = 0, yellow = 0, blue = 0;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) {
      const auto r = static_cast<unsigned char>(pixels[i]);
      const auto g = static_cast<unsigned char>(pixels[i + 1]);
      const auto b = static_cast<unsigned char>(pixels[i + 2]);
      red += r > 150 && g < 90 && b < 100;
      yellow += r > 150 && g > 120 && b < 100;
      blue += r < 100 && b > 150;
    }
    const int most = std::max({red, yellow, blue});
    if (most < 20) return "";
    return most == red ? "red" : most == yellow ? "yellow" : "blue";
  }
  return "";
}

// The colour of most of the shown icon's pixels on the screen, or "". Under
// Wine another process cannot read a window's icon, so the screen is read.
std::string IconColour(const std::string& display, const std::vector<Texts>& rows) {
  if (rows.empty() || rows[0].size() < 9) return "";
  // A box that has just appeared may not be painted yet: look again a while.
  std::string colour;
  WaitFor([&] { return !(colour = IconColourNow(display, rows)).empty(); }, 3000, 100);
  return colour;
}

// The message box listed in rows: caption, owner, text, visible buttons, and
// an icon or none.
void ExpectMessageBox(const std::vector<Texts>& rows, const std::string& caption,
                      const std::string& owner, const std::string& text, bool icon,
                      const std::string& buttons_wanted) {
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
  EXPECT_EQ(buttons, buttons_wanted);  // visible ones
  EXPECT_EQ(icons, icon ? 1 : 0);
}

}  // namespace

std::string AppDefaults(const std::string& program, const std::string& version) {
  const std::string key = "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\" + program;
  std::string reg = "[-" + key + "]\r\n\r\n";
  if (!version.empty()) reg += "[" + key + "]\r\n\"Version\"=\"" + version + "\"\r\n\r\n";
  return reg;
}

void DesktopSuite::StartDesktop(const std::string& name) {
  const std::string source = ORVEL_SOURCE_DIR;
  std::filesystem::create_directories(source + "/build/screenshots");
  const std::string base = source + "/build/wine/" + name;
  xvfb_ = std::make_unique<Xvfb>(base + ".xvfb.log");
  ASSERT_FALSE(xvfb_->display.empty()) << "Xvfb did not start";
  prefix_ = std::make_unique<WinePrefix>(source, base, xvfb_->display);
  ASSERT_TRUE(prefix_->Start());
  ASSERT_TRUE(PrepareDesktop(*prefix_));
}

void DesktopSuite::TearDownTestSuite() {
  prefix_.reset();
  xvfb_.reset();
}

void DesktopSuite::CopyToFixtures(const std::string& program) {
  std::filesystem::create_directories(C() / "fixture");
  std::filesystem::copy_file(WinBinDir(ORVEL_SOURCE_DIR) + "/" + program, C() / "fixture" / program,
                             std::filesystem::copy_options::overwrite_existing);
}

void DesktopSuite::Shot(const std::string& name) {
  Screenshot(xvfb_->display, ORVEL_SOURCE_DIR "/build/screenshots/" + name + ".png");
}

void DesktopSuite::AnswerBox(const std::string& caption, const std::string& owner,
                             const std::string& text, const std::string& icon,
                             const std::string& shot, const char* click,
                             const std::string& buttons) {
  const std::vector<Texts> box = Rows(Driver(*prefix_, {"msgbox"}).out);
  Shot(shot);
  ExpectMessageBox(box, caption, owner, text, !icon.empty(), buttons);
  if (!icon.empty()) {
    EXPECT_EQ(IconColour(xvfb_->display, box), icon) << shot;
  }
  EXPECT_EQ(Driver(*prefix_, {"msgbox", "click", click}).exit_code, 0) << shot;
}

}  // namespace e2e
