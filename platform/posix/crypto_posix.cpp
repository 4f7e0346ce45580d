// The crypto seam on Linux: OpenSSL's libcrypto (EVP with the P-256 group),
// random bytes from getrandom.
#include "platform/crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace platform {
namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
  void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
  void operator()(BIGNUM* p) const { BN_clear_free(p); }
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
  void operator()(unsigned char* p) const { OPENSSL_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

char kGroup[] = "prime256v1";

// The key of the point, with the private scalar when one is given.
Owned<EVP_PKEY> ImportKey(const uint8_t* private_key, const uint8_t* public_key) {
  Owned<OSSL_PARAM_BLD> build(OSSL_PARAM_BLD_new());
  Owned<BIGNUM> scalar;
  if (!build) return nullptr;
  if (!OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, kGroup, 0) ||
      !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, public_key,
                                        kEcPublicKeyBytes)) {
    return nullptr;
  }
  if (private_key) {
    scalar.reset(BN_bin2bn(private_key, kEcPrivateKeyBytes, nullptr));
    if (!scalar || !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar.get())) {
      return nullptr;
    }
  }
  Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(build.get()));
  Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
      EVP_PKEY_fromdata(ctx.get(), &key, private_key ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                        params.get()) <= 0) {
    return nullptr;
  }
  return Owned<EVP_PKEY>(key);
}

}  // namespace

bool RandomBytes(uint8_t* out, size_t size) {
  while (size > 0) {
    const ssize_t n = getrandom(out, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool GenerateEcKey(uint8_t private_key[kEcPrivateKeyBytes],
                   uint8_t public_key[kEcPublicKeyBytes]) {
  Owned<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) return false;
  size_t size = 0;
  BIGNUM* scalar = nullptr;
  if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, public_key,
                                      kEcPublicKeyBytes, &size) <= 0 ||
      size != kEcPublicKeyBytes || public_key[0] != 0x04 ||
      EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) <= 0) {
    return false;
  }
  Owned<BIGNUM> owned(scalar);
  return BN_bn2binpad(scalar, private_key, kEcPrivateKeyBytes) == kEcPrivateKeyBytes;
}

bool IsEcPublicKey(const uint8_t public_key[kEcPublicKeyBytes]) {
  if (public_key[0] != 0x04) return false;
  Owned<EVP_PKEY> key = ImportKey(nullptr, public_key);
  if (!key) return false;
  Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  return ctx && EVP_PKEY_public_check(ctx.get()) == 1;
}

bool SignEcdsaSha256(const uint8_t private_key[kEcPrivateKeyBytes],
                     const uint8_t public_key[kEcPublicKeyBytes], const uint8_t* message,
                     size_t size, uint8_t signature[kEcSignatureBytes]) {
  Owned<EVP_PKEY> key = ImportKey(private_key, public_key);
  Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  unsigned char der[80];  // a P-256 signature in DER takes at most 72 bytes
  size_t der_size = sizeof der;
  if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) <= 0 ||
      EVP_DigestSign(ctx.get(), der, &der_size, message, size) <= 0) {
    return false;
  }
  const unsigned char* p = der;
  Owned<ECDSA_SIG> sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der_size)));
  if (!sig) return false;
  const int half = static_cast<int>(kEcSignatureBytes / 2);
  return BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature, half) == half &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature + half, half) == half;
}

namespace {

// r and s as OpenSSL's DER, verified with a key already imported.
bool VerifyWith(EVP_PKEY* key, const uint8_t* message, size_t size,
                const uint8_t signature[kEcSignatureBytes]) {
  Owned<ECDSA_SIG> sig(ECDSA_SIG_new());
  const int half = static_cast<int>(kEcSignatureBytes / 2);
  BIGNUM* r = BN_bin2bn(signature, half, nullptr);
  BIGNUM* s = BN_bin2bn(signature + half, half, nullptr);
  if (!sig || !r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int der_size = i2d_ECDSA_SIG(sig.get(), &der);
  Owned<unsigned char> owned(der);
  Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  return der_size > 0 && ctx &&
         EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) > 0 &&
         EVP_DigestVerify(ctx.get(), der, static_cast<size_t>(der_size), message, size) == 1;
}

}  // namespace

bool VerifyEcdsaSha256(const uint8_t public_key[kEcPublicKeyBytes], const uint8_t* message,
                       size_t size, const uint8_t signature[kEcSignatureBytes]) {
  if (public_key[0] != 0x04) return false;
  Owned<EVP_PKEY> key = ImportKey(nullptr, public_key);
  return key && VerifyWith(key.get(), message, size, signature);
}

EcPublicKey::~EcPublicKey() { EVP_PKEY_free(static_cast<EVP_PKEY*>(key_)); }

EcPublicKey EcPublicKey::Import(const uint8_t point[kEcPublicKeyBytes]) {
  EcPublicKey imported;
  if (IsEcPublicKey(point)) imported.key_ = ImportKey(nullptr, point).release();
  return imported;
}

bool EcPublicKey::Verify(const uint8_t* message, size_t size,
                         const uint8_t signature[kEcSignatureBytes]) const {
  return key_ && VerifyWith(static_cast<EVP_PKEY*>(key_), message, size, signature);
}

}  // namespace platform
