// The crypto seam on Windows: CNG. bcrypt.dll is looked up in the system
// folder, not imported, so that the agent still starts on a Windows without
// CNG (before Vista); there every operation fails, which refuses every signed
// command.
#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "platform/win32/system_library.h"

namespace platform {
namespace {

struct Calls {
  NTSTATUS(WINAPI* open)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
  NTSTATUS(WINAPI* close)(BCRYPT_ALG_HANDLE, ULONG);
  NTSTATUS(WINAPI* random)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* generate)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE*, ULONG, ULONG);
  NTSTATUS(WINAPI* finalize)(BCRYPT_KEY_HANDLE, ULONG);
  NTSTATUS(WINAPI* export_key)(BCRYPT_KEY_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, PUCHAR, ULONG,
                               ULONG*, ULONG);
  NTSTATUS(WINAPI* import_key)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE*,
                               PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* destroy_key)(BCRYPT_KEY_HANDLE);
  NTSTATUS(WINAPI* sign)(BCRYPT_KEY_HANDLE, void*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG*, ULONG);
  NTSTATUS(WINAPI* verify)(BCRYPT_KEY_HANDLE, void*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* create_hash)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR,
                                ULONG, ULONG);
  NTSTATUS(WINAPI* hash_data)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* finish_hash)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* destroy_hash)(BCRYPT_HASH_HANDLE);
  bool all() const {
    return open && close && random && generate && finalize && export_key && import_key &&
           destroy_key && sign && verify && create_hash && hash_data && finish_hash &&
           destroy_hash;
  }
};

template <class F>
void Find(HMODULE module, const char* name, F* f) {
  *f = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
              : nullptr;
}

// From the system folder only; it stays loaded for the life of the process.
const Calls* Bcrypt() {
  static const Calls* calls = [] {
    static Calls c{};
    const HMODULE m = LoadSystemLibrary("bcrypt.dll");
    Find(m, "BCryptOpenAlgorithmProvider", &c.open);
    Find(m, "BCryptCloseAlgorithmProvider", &c.close);
    Find(m, "BCryptGenRandom", &c.random);
    Find(m, "BCryptGenerateKeyPair", &c.generate);
    Find(m, "BCryptFinalizeKeyPair", &c.finalize);
    Find(m, "BCryptExportKey", &c.export_key);
    Find(m, "BCryptImportKeyPair", &c.import_key);
    Find(m, "BCryptDestroyKey", &c.destroy_key);
    Find(m, "BCryptSignHash", &c.sign);
    Find(m, "BCryptVerifySignature", &c.verify);
    Find(m, "BCryptCreateHash", &c.create_hash);
    Find(m, "BCryptHashData", &c.hash_data);
    Find(m, "BCryptFinishHash", &c.finish_hash);
    Find(m, "BCryptDestroyHash", &c.destroy_hash);
    return c.all() ? static_cast<const Calls*>(&c) : nullptr;
  }();
  return calls;
}

bool Ok(NTSTATUS status) { return status >= 0; }

class Algorithm {
 public:
  explicit Algorithm(LPCWSTR name) {
    if (!Ok(Bcrypt()->open(&h_, name, nullptr, 0))) h_ = nullptr;
  }
  ~Algorithm() {
    if (h_) Bcrypt()->close(h_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return h_; }

 private:
  BCRYPT_ALG_HANDLE h_ = nullptr;
};

class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_) Bcrypt()->destroy_key(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  BCRYPT_KEY_HANDLE* out() { return &h_; }
  BCRYPT_KEY_HANDLE get() const { return h_; }

 private:
  BCRYPT_KEY_HANDLE h_ = nullptr;
};

class Hash {
 public:
  Hash() = default;
  ~Hash() {
    if (h_) Bcrypt()->destroy_hash(h_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  BCRYPT_HASH_HANDLE* out() { return &h_; }
  BCRYPT_HASH_HANDLE get() const { return h_; }

 private:
  BCRYPT_HASH_HANDLE h_ = nullptr;
};

constexpr ULONG kCoordinate = 32;

// SHA-256 of the message (the hash object is CNG's own: Windows 7 and later).
bool Sha256(const uint8_t* message, size_t size, uint8_t digest[32]) {
  Algorithm sha(BCRYPT_SHA256_ALGORITHM);
  Hash hash;
  return sha.get() && Ok(Bcrypt()->create_hash(sha.get(), hash.out(), nullptr, 0, nullptr, 0, 0)) &&
         Ok(Bcrypt()->hash_data(hash.get(), const_cast<PUCHAR>(message), static_cast<ULONG>(size), 0)) &&
         Ok(Bcrypt()->finish_hash(hash.get(), digest, 32, 0));
}

// The key as a CNG blob: the head, X, Y, and the scalar for a private key.
bool Import(const Algorithm& ecdsa, const uint8_t* private_key, const uint8_t* public_key,
            Key* key) {
  if (public_key[0] != 0x04) return false;
  std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate);
  BCRYPT_ECCKEY_BLOB head{private_key ? static_cast<ULONG>(BCRYPT_ECDSA_PRIVATE_P256_MAGIC)
                                      : static_cast<ULONG>(BCRYPT_ECDSA_PUBLIC_P256_MAGIC),
                          kCoordinate};
  std::memcpy(blob.data(), &head, sizeof head);
  std::memcpy(blob.data() + sizeof head, public_key + 1, 2 * kCoordinate);
  if (private_key) {
    std::memcpy(blob.data() + sizeof head + 2 * kCoordinate, private_key, kCoordinate);
  } else {
    blob.resize(sizeof head + 2 * kCoordinate);
  }
  const bool ok = Ok(Bcrypt()->import_key(
      ecdsa.get(), nullptr, private_key ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB,
      key->out(), blob.data(), static_cast<ULONG>(blob.size()), 0));
  SecureZeroMemory(blob.data(), blob.size());
  return ok;
}

}  // namespace

bool RandomBytes(uint8_t* out, size_t size) {
  return Bcrypt() && Ok(Bcrypt()->random(nullptr, out, static_cast<ULONG>(size),
                                         BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool GenerateEcKey(uint8_t private_key[kEcPrivateKeyBytes],
                   uint8_t public_key[kEcPublicKeyBytes]) {
  if (!Bcrypt()) return false;
  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate];
  ULONG size = 0;
  if (!ecdsa.get() || !Ok(Bcrypt()->generate(ecdsa.get(), key.out(), 256, 0)) ||
      !Ok(Bcrypt()->finalize(key.get(), 0)) ||
      !Ok(Bcrypt()->export_key(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob,
                               &size, 0)) ||
      size != sizeof blob) {
    return false;
  }
  public_key[0] = 0x04;
  std::memcpy(public_key + 1, blob + sizeof(BCRYPT_ECCKEY_BLOB), 2 * kCoordinate);
  std::memcpy(private_key, blob + sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate, kCoordinate);
  SecureZeroMemory(blob, sizeof blob);
  return true;
}

bool IsEcPublicKey(const uint8_t public_key[kEcPublicKeyBytes]) {
  if (!Bcrypt()) return false;
  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  return ecdsa.get() && Import(ecdsa, nullptr, public_key, &key);
}

bool SignEcdsaSha256(const uint8_t private_key[kEcPrivateKeyBytes],
                     const uint8_t public_key[kEcPublicKeyBytes], const uint8_t* message,
                     size_t size, uint8_t signature[kEcSignatureBytes]) {
  if (!Bcrypt()) return false;
  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  uint8_t digest[32];
  ULONG written = 0;
  return ecdsa.get() && Import(ecdsa, private_key, public_key, &key) &&
         Sha256(message, size, digest) &&
         Ok(Bcrypt()->sign(key.get(), nullptr, digest, sizeof digest, signature,
                           kEcSignatureBytes, &written, 0)) &&
         written == kEcSignatureBytes;
}

// A CNG key handle is not documented as safe to use from several threads at
// once, so the point is kept and imported for each verification.
EcPublicKey::~EcPublicKey() { delete[] static_cast<uint8_t*>(key_); }

EcPublicKey EcPublicKey::Import(const uint8_t point[kEcPublicKeyBytes]) {
  EcPublicKey imported;
  if (!IsEcPublicKey(point)) return imported;
  uint8_t* copy = new uint8_t[kEcPublicKeyBytes];
  std::memcpy(copy, point, kEcPublicKeyBytes);
  imported.key_ = copy;
  return imported;
}

bool EcPublicKey::Verify(const uint8_t* message, size_t size,
                         const uint8_t signature[kEcSignatureBytes]) const {
  return key_ && VerifyEcdsaSha256(static_cast<const uint8_t*>(key_), message, size, signature);
}

bool VerifyEcdsaSha256(const uint8_t public_key[kEcPublicKeyBytes], const uint8_t* message,
                       size_t size, const uint8_t signature[kEcSignatureBytes]) {
  if (!Bcrypt()) return false;
  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  uint8_t digest[32];
  return ecdsa.get() && Import(ecdsa, nullptr, public_key, &key) && Sha256(message, size, digest) &&
         Ok(Bcrypt()->verify(key.get(), nullptr, digest, sizeof digest,
                             const_cast<PUCHAR>(signature), kEcSignatureBytes, 0));
}

}  // namespace platform
