#include "pwrctl/keys.h"

#include <cstring>

#include "agent/key_text.h"

namespace {

const char kTitle[] = "ORVEL Nimbrel manager key";
const char kPrivate[] = "private=";
const char kPublic[] = "public=";

// The next line of text from *at, without its LF or CR LF.
std::string NextLine(const std::string& text, size_t* at) {
  const size_t end = text.find('\n', *at);
  std::string line = text.substr(*at, end == std::string::npos ? std::string::npos : end - *at);
  *at = end == std::string::npos ? text.size() : end + 1;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool Field(const std::string& line, const char* name, uint8_t* out, size_t size) {
  const size_t n = std::strlen(name);
  return line.compare(0, n, name) == 0 &&
         DecodeBase64(line.data() + n, line.size() - n, out, size);
}

}  // namespace

std::string FormatKeyFile(const ManagerKeyPair& key) {
  return std::string(kTitle) + "\n" + kPrivate +
         EncodeBase64(key.private_key, sizeof key.private_key) + "\n" + kPublic +
         EncodeBase64(key.public_key, sizeof key.public_key) + "\n";
}

bool ParseKeyFile(const std::string& text, ManagerKeyPair* key, std::string* error) {
  if (text.size() > kKeyFileMaxBytes) {
    *error = "not a key file (too long)";
    return false;
  }
  size_t at = 0;
  if (NextLine(text, &at) != kTitle) {
    *error = "not a key file of pwrctl keygen";
    return false;
  }
  if (!Field(NextLine(text, &at), kPrivate, key->private_key, sizeof key->private_key)) {
    *error = "the private= line is damaged";
    return false;
  }
  if (!Field(NextLine(text, &at), kPublic, key->public_key, sizeof key->public_key) ||
      key->public_key[0] != 0x04) {
    *error = "the public= line is damaged";
    return false;
  }
  while (at < text.size()) {
    if (!NextLine(text, &at).empty()) {
      *error = "text after the public= line";
      return false;
    }
  }
  return true;
}

std::string PublicKeyText(const ManagerKeyPair& key) {
  return EncodeBase64(key.public_key, sizeof key.public_key);
}

bool SignRequest(const ManagerKeyPair& key, const uint8_t (&nonce)[AGENT_NONCE_SIZE],
                 const uint8_t (&head)[AGENT_BLOCK_SIZE],
                 uint8_t (&request)[AGENT_SIGNED_MESSAGE_SIZE]) {
  uint8_t message[AGENT_SIGNED_DATA_SIZE];
  BuildSignedData(nonce, head, message);
  std::memcpy(request, head, sizeof head);
  return platform::SignEcdsaSha256(key.private_key, key.public_key, message, sizeof message,
                                   request + OFS_SIGNATURE);
}

bool KeyPairMatches(const ManagerKeyPair& key) {
  uint8_t message[AGENT_NONCE_SIZE];
  uint8_t signature[platform::kEcSignatureBytes];
  return platform::RandomBytes(message, sizeof message) &&
         platform::SignEcdsaSha256(key.private_key, key.public_key, message, sizeof message,
                                   signature) &&
         platform::VerifyEcdsaSha256(key.public_key, message, sizeof message, signature);
}
