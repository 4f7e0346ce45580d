// The managers' public keys: the ManagerKey setting, one to eight public key
// texts separated by commas. Without the value, or with it empty, the agent
// takes plain commands as always. A value that cannot be parsed fails
// closed: every signed request and every plain OFF is refused.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/crypto.h"

// The value's length limit, without its NUL.
constexpr size_t kManagerKeyMaxBytes = 1023;
constexpr int kManagerKeysMax = 8;

struct ManagerKeys {
  enum State { kNone, kKeys, kBroken } state = kNone;
  int count = 0;
  uint8_t keys[kManagerKeysMax][platform::kEcPublicKeyBytes];
  platform::EcPublicKey imported[kManagerKeysMax];  // by ImportManagerKeys
};

// Parses the setting's text; no I/O, and no check that a point is on the
// curve. Entries may have spaces or tabs around them; an empty entry, one
// that is not a public key text, a ninth entry, or a value longer than
// kManagerKeyMaxBytes is bad. On a bad entry returns false, leaves *out
// kBroken and empty, and copies the entry as written (spaces trimmed) into
// first_bad, cut to first_bad_size with its NUL.
bool ParseManagerKeys(const char* text, ManagerKeys* out, char* first_bad, size_t first_bad_size);

// Imports the parsed keys for verification. False when one is not a point
// of the curve: *first_bad is its index, and the keys are kBroken and empty.
bool ImportManagerKeys(ManagerKeys* keys, int* first_bad);

// Reads ManagerKey once at start-up; a bad value, or a key that is not a
// point of the curve, is traced as "Error ManagerKey : "ENTRY"".
void LoadManagerKeys();

// The keys loaded at start-up.
const ManagerKeys& LoadedManagerKeys();
