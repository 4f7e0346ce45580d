// ECDSA over P-256 with SHA-256, and the system's random generator, from the
// platform: CNG (bcrypt.dll) on Windows, OpenSSL's libcrypto on Linux. Nothing
// here is written by hand; keys and signatures travel as raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace platform
