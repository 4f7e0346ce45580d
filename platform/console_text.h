// Text in code page 932 made fit for this platform's terminal: UTF-8 on
// Linux, unchanged on Windows, whose console speaks the ANSI code page.
#pragma once

#include <string>

namespace platform {

std::string ToConsoleText(const std::string& cp932);

}  // namespace platform
