#include "platform/console_text.h"

#include <errno.h>
#include <iconv.h>

namespace platform {

// Bytes that are not valid code page 932 (a double-byte character cut at the
// end of a log line, foreign content) become '?' instead of ending the text.
std::string ToConsoleText(const std::string& cp932) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp932;
  std::string out;
  char buf[256];
  char* in = const_cast<char*>(cp932.data());
  size_t in_left = cp932.size();
  while (in_left > 0) {
    char* o = buf;
    size_t o_left = sizeof buf;
    const size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(buf, static_cast<size_t>(o - buf));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out += '?';
      ++in;
      --in_left;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace platform
