#include "pwrctl/key_commands.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/private_file.h"

namespace {

// The private scalar leaves no copy behind in this process's memory.
struct Wiped {
  ManagerKeyPair key{};
  ~Wiped() {
    volatile uint8_t* p = key.private_key;
    for (size_t i = 0; i < sizeof key.private_key; ++i) p[i] = 0;
  }
};

}  // namespace

bool LoadKeyFile(const std::string& path, ManagerKeyPair* key) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pwrctl: %s: cannot read the key file\n", path.c_str());
    return false;
  }
  std::string text(kKeyFileMaxBytes + 1, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  std::string error;
  const bool ok = ParseKeyFile(text, key, &error);
  std::fill(text.begin(), text.end(), '\0');
  if (!ok) {
    std::fprintf(stderr, "pwrctl: %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  if (!KeyPairMatches(*key)) {
    std::fprintf(stderr, "pwrctl: %s: the private key does not belong to the public key\n",
                 path.c_str());
    return false;
  }
  return true;
}

bool Keygen(const std::string& path) {
  Wiped pair;
  if (!platform::GenerateEcKey(pair.key.private_key, pair.key.public_key)) {
    std::fprintf(stderr, "pwrctl: cannot generate a key pair\n");
    return false;
  }
  std::string text = FormatKeyFile(pair.key);
  uint32_t error = 0;
  const platform::PrivateFileResult r =
      platform::CreatePrivateFile(path.c_str(), text.data(), text.size(), &error);
  std::fill(text.begin(), text.end(), '\0');
  if (r == platform::PrivateFileResult::kExists) {
    std::fprintf(stderr, "pwrctl: %s: the file exists; a key file is never overwritten\n",
                 path.c_str());
    return false;
  }
  if (r != platform::PrivateFileResult::kWritten) {
    std::fprintf(stderr, "pwrctl: %s: cannot write the key file: code %u\n", path.c_str(),
                 static_cast<unsigned>(error));
    return false;
  }
  std::printf("%s\n", PublicKeyText(pair.key).c_str());
  return true;
}

bool PrintPublicKey(const std::string& path) {
  Wiped pair;
  if (!LoadKeyFile(path, &pair.key)) return false;
  std::printf("%s\n", PublicKeyText(pair.key).c_str());
  return true;
}
