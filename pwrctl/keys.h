// The manager's key pair and what pwrctl does with it: the key file that
// keygen writes, and the signature of a signed request.
//
// The key file is text, three lines (CR LF also read):
//   ORVEL Nimbrel manager key
//   private=BASE64 of the 32-byte private scalar (44 characters)
//   public=BASE64 of the 65-byte public point 04 X Y (88 characters)
// Plain bytes, no PKCS#8: CNG imports them as they are, and OpenSSL too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/protocol.h"
#include "platform/crypto.h"

struct ManagerKeyPair {
  uint8_t private_key[platform::kEcPrivateKeyBytes];
  uint8_t public_key[platform::kEcPublicKeyBytes];
};

// A key file is never longer than this; a longer one is refused unread.
constexpr size_t kKeyFileMaxBytes = 4096;

std::string FormatKeyFile(const ManagerKeyPair& key);

// False with *error saying what is wrong; no check that the two halves match.
bool ParseKeyFile(const std::string& text, ManagerKeyPair* key, std::string* error);

// The public key text (88 characters) of the pair.
std::string PublicKeyText(const ManagerKeyPair& key);

// The signed request: the 48 bytes of head, then the signature over the
// agent's nonce followed by those 48 bytes.
bool SignRequest(const ManagerKeyPair& key, const uint8_t (&nonce)[AGENT_NONCE_SIZE],
                 const uint8_t (&head)[AGENT_BLOCK_SIZE],
                 uint8_t (&request)[AGENT_SIGNED_MESSAGE_SIZE]);

// The pair signs and verifies: the private half belongs to the public one.
bool KeyPairMatches(const ManagerKeyPair& key);
