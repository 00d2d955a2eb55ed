// POSIX cryptography through OpenSSL's libcrypto (EVP).
#include "platform/Crypto.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

#include <climits>
#include <vector>

namespace plat {

struct CSha256::Impl {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool bReady = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    ~Impl() { EVP_MD_CTX_free(ctx); }
};

CSha256::CSha256() : m_pImpl(std::make_unique<Impl>()) {}
CSha256::~CSha256() = default;

bool CSha256::Ready() const {
    return m_pImpl->bReady;
}

void CSha256::Update(const void* data, std::size_t size) {
    if (m_pImpl->bReady && size > 0)
        m_pImpl->bReady = EVP_DigestUpdate(m_pImpl->ctx, data, size) == 1;
}

bool CSha256::Finish(Sha256Digest& digest) {
    unsigned int n = 0;
    const bool bOk = m_pImpl->bReady && EVP_DigestFinal_ex(m_pImpl->ctx, digest.data(), &n) == 1 &&
                     n == digest.size();
    m_pImpl->bReady = EVP_DigestInit_ex(m_pImpl->ctx, EVP_sha256(), nullptr) == 1;
    return bOk;
}

struct CP256PublicKey::Impl {
    EVP_PKEY* key = nullptr;
    ~Impl() { EVP_PKEY_free(key); }
};

CP256PublicKey::CP256PublicKey() : m_pImpl(std::make_unique<Impl>()) {}
CP256PublicKey::~CP256PublicKey() = default;
CP256PublicKey::CP256PublicKey(CP256PublicKey&&) noexcept = default;
CP256PublicKey& CP256PublicKey::operator=(CP256PublicKey&&) noexcept = default;

bool CP256PublicKey::Import(const std::uint8_t* point, std::size_t size) {
    if (size != 65 || point[0] != 0x04)
        return false;
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    if (build == nullptr)
        return false;
    OSSL_PARAM* params = nullptr;
    EVP_PKEY_CTX* ctx = nullptr;
    EVP_PKEY* key = nullptr;
    if (OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) == 1 &&
        OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point, size) == 1 &&
        (params = OSSL_PARAM_BLD_to_param(build)) != nullptr &&
        (ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr)) != nullptr &&
        EVP_PKEY_fromdata_init(ctx) == 1 &&
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1) {
        // The point must lie on the curve.
        EVP_PKEY_CTX* check = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
        const bool bValid = check != nullptr && EVP_PKEY_public_check(check) == 1;
        EVP_PKEY_CTX_free(check);
        if (!bValid) {
            EVP_PKEY_free(key);
            key = nullptr;
        }
    }
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    if (key == nullptr)
        return false;
    EVP_PKEY_free(m_pImpl->key);
    m_pImpl->key = key;
    return true;
}

bool CP256PublicKey::Verify(const Sha256Digest& digest,
                            const std::array<std::uint8_t, 64>& rs) const {
    if (m_pImpl->key == nullptr)
        return false;
    // libcrypto takes the signature in DER; it is made from r and s here.
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(rs.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(rs.data() + 32, 32, nullptr);
    if (sig == nullptr || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig, r, s) != 1) {
        BN_free(r);
        BN_free(s);
        ECDSA_SIG_free(sig);
        return false;
    }
    unsigned char* der = nullptr;
    const int nDer = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    if (nDer <= 0)
        return false;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, m_pImpl->key, nullptr);
    const bool bOk = ctx != nullptr && EVP_PKEY_verify_init(ctx) == 1 &&
                     EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
                     EVP_PKEY_verify(ctx, der, static_cast<std::size_t>(nDer), digest.data(),
                                     digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    OPENSSL_free(der);
    return bOk;
}

namespace {

// A pair as libcrypto holds it: the group, the private scalar and the public point.
EVP_PKEY* KeyFromPair(const CP256KeyPair& pair) {
    BIGNUM* d = BN_bin2bn(pair.d.data(), static_cast<int>(pair.d.size()), nullptr);
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    EVP_PKEY_CTX* ctx = nullptr;
    EVP_PKEY* key = nullptr;
    if (d != nullptr && build != nullptr &&
        OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) == 1 &&
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PRIV_KEY, d) == 1 &&
        OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, pair.point.data(),
                                         pair.point.size()) == 1 &&
        (params = OSSL_PARAM_BLD_to_param(build)) != nullptr &&
        (ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr)) != nullptr &&
        EVP_PKEY_fromdata_init(ctx) == 1)
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_KEYPAIR, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    BN_clear_free(d);
    return key;
}

} // namespace

bool RandomBytes(void* data, std::size_t size) {
    return size <= INT_MAX &&
           RAND_bytes(static_cast<unsigned char*>(data), static_cast<int>(size)) == 1;
}

bool GenerateP256KeyPair(CP256KeyPair& pair) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (key == nullptr)
        return false;
    BIGNUM* d = nullptr;
    std::size_t nPoint = 0;
    const bool bOk =
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1 &&
        BN_bn2binpad(d, pair.d.data(), static_cast<int>(pair.d.size())) == 32 &&
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, pair.point.data(),
                                        pair.point.size(), &nPoint) == 1 &&
        nPoint == pair.point.size() && pair.point[0] == 0x04;
    BN_clear_free(d);
    EVP_PKEY_free(key);
    return bOk;
}

bool SignP256(const CP256KeyPair& pair, const Sha256Digest& digest,
              std::array<std::uint8_t, 64>& rs) {
    EVP_PKEY* key = KeyFromPair(pair);
    if (key == nullptr)
        return false;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    unsigned char der[80];
    std::size_t nDer = sizeof der;
    bool bOk = ctx != nullptr && EVP_PKEY_sign_init(ctx) == 1 &&
               EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
               EVP_PKEY_sign(ctx, der, &nDer, digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    if (!bOk)
        return false;
    // libcrypto gives the signature in DER; r and s are taken out of it.
    const unsigned char* p = der;
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(nDer));
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    if (sig != nullptr)
        ECDSA_SIG_get0(sig, &r, &s);
    bOk = sig != nullptr && BN_bn2binpad(r, rs.data(), 32) == 32 &&
          BN_bn2binpad(s, rs.data() + 32, 32) == 32;
    ECDSA_SIG_free(sig);
    return bOk;
}

} // namespace plat
