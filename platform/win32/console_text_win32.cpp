#include "platform/console_text.h"

namespace platform {

std::string ToConsoleText(const std::string& cp932) { return cp932; }

}  // namespace platform
