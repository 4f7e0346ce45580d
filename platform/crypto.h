// ECDSA over P-256 with SHA-256, and the system's random generator, from the
// platform: CNG (bcrypt.dll) on Windows, OpenSSL's libcrypto on Linux. Nothing
// here is written by hand; keys and signatures travel as raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace platform {

constexpr size_t kEcPublicKeyBytes = 65;   // the uncompressed point 04 X Y
constexpr size_t kEcPrivateKeyBytes = 32;  // the private scalar, big-endian
constexpr size_t kEcSignatureBytes = 64;   // r then s, 32 bytes each, big-endian

// Fills out with bytes of the system's random generator.
bool RandomBytes(uint8_t* out, size_t size);

// A new key pair.
bool GenerateEcKey(uint8_t private_key[kEcPrivateKeyBytes],
                   uint8_t public_key[kEcPublicKeyBytes]);

// True when the bytes are a point on the curve that a signature can be
// verified against.
bool IsEcPublicKey(const uint8_t public_key[kEcPublicKeyBytes]);

// The ECDSA-SHA256 signature of the message (hashed once) as r and s.
bool SignEcdsaSha256(const uint8_t private_key[kEcPrivateKeyBytes],
                     const uint8_t public_key[kEcPublicKeyBytes], const uint8_t* message,
                     size_t size, uint8_t signature[kEcSignatureBytes]);

// True only when the signature verifies under the key; any failure is false.
bool VerifyEcdsaSha256(const uint8_t public_key[kEcPublicKeyBytes], const uint8_t* message,
                       size_t size, const uint8_t signature[kEcSignatureBytes]);

// A public key imported once and then verified against from any number of
// threads at once: the agent's keys, so that each signed request costs a
// verification and no import.
class EcPublicKey {
 public:
  EcPublicKey() = default;
  EcPublicKey(EcPublicKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  EcPublicKey& operator=(EcPublicKey&& other) noexcept {
    std::swap(key_, other.key_);  // the old key goes with `other`
    return *this;
  }
  EcPublicKey(const EcPublicKey&) = delete;
  EcPublicKey& operator=(const EcPublicKey&) = delete;
  ~EcPublicKey();

  // Not valid() when the bytes are not a point of the curve.
  static EcPublicKey Import(const uint8_t point[kEcPublicKeyBytes]);
  bool valid() const { return key_ != nullptr; }
  // As VerifyEcdsaSha256; false for a key that is not valid().
  bool Verify(const uint8_t* message, size_t size,
              const uint8_t signature[kEcSignatureBytes]) const;

 private:
  void* key_ = nullptr;
};

}  // namespace platform
