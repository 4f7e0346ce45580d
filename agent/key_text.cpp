#include "agent/key_text.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string EncodeBase64(const uint8_t* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; i += 3) {
    const size_t n = size - i < 3 ? size - i : 3;
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    for (size_t k = 0; k < 4; ++k) {
      text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

bool DecodeBase64(const char* text, size_t length, uint8_t* out, size_t size) {
  if (length != (size + 2) / 3 * 4) return false;
  const size_t padding = (3 - size % 3) % 3;
  for (size_t i = 0, o = 0; i < length; i += 4) {
    uint32_t group = 0;
    const bool last = i + 4 == length;
    for (size_t k = 0; k < 4; ++k) {
      const bool pad = last && k >= 4 - padding;
      const int v = Value(text[i + k]);
      if (pad ? text[i + k] != '=' : v < 0) return false;
      group = group << 6 | static_cast<uint32_t>(pad ? 0 : v);
    }
    // Bits beyond the last byte must be zero: one text for one value.
    if (last && padding && (group & ((1u << (8 * padding)) - 1)) != 0) return false;
    for (int k = 2; k >= 0 && o < size; --k) {
      if (last && 2 - k >= 3 - static_cast<int>(padding)) break;
      out[o++] = static_cast<uint8_t>(group >> (8 * k));
    }
  }
  return true;
}

bool ParsePublicKeyText(const char* text, size_t length,
                        uint8_t (&key)[platform::kEcPublicKeyBytes]) {
  return DecodeBase64(text, length, key, sizeof key) && key[0] == 0x04;
}
