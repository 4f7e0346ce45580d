// Keys as text: base64 (RFC 4648, with padding). A public key's text is the
// base64 of its 65-byte uncompressed point, 88 characters on one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/crypto.h"

constexpr size_t kPublicKeyTextSize = 88;

std::string EncodeBase64(const uint8_t* bytes, size_t size);

// True when [text, text + length) is the canonical base64 of exactly `size`
// bytes (padding as RFC 4648 writes it, unused bits zero, nothing else).
bool DecodeBase64(const char* text, size_t length, uint8_t* out, size_t size);

// The 88 characters of a point starting 04; no check that it is on the curve.
bool ParsePublicKeyText(const char* text, size_t length,
                        uint8_t (&key)[platform::kEcPublicKeyBytes]);
