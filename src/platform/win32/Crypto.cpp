// Win32 cryptography through CNG (bcrypt).
#include "platform/Crypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <climits>
#include <cstring>
#include <vector>

namespace plat {

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// The system's algorithm providers, opened once per process.
BCRYPT_ALG_HANDLE Provider(const wchar_t* algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0)))
        return nullptr;
    return handle;
}

BCRYPT_ALG_HANDLE Sha256Provider() {
    static const BCRYPT_ALG_HANDLE handle = Provider(BCRYPT_SHA256_ALGORITHM);
    return handle;
}

BCRYPT_ALG_HANDLE EcdsaProvider() {
    static const BCRYPT_ALG_HANDLE handle = Provider(BCRYPT_ECDSA_P256_ALGORITHM);
    return handle;
}

} // namespace

struct CSha256::Impl {
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool bReady = false;
    void Open() {
        hash = nullptr;
        bReady = Sha256Provider() != nullptr &&
                 Succeeded(::BCryptCreateHash(Sha256Provider(), &hash, nullptr, 0, nullptr, 0, 0));
    }
    ~Impl() {
        if (hash != nullptr)
            ::BCryptDestroyHash(hash);
    }
};

CSha256::CSha256() : m_pImpl(std::make_unique<Impl>()) {
    m_pImpl->Open();
}
CSha256::~CSha256() = default;

bool CSha256::Ready() const {
    return m_pImpl->bReady;
}

void CSha256::Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (m_pImpl->bReady && size > 0) {
        const ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        m_pImpl->bReady =
            Succeeded(::BCryptHashData(m_pImpl->hash, const_cast<UCHAR*>(bytes), chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
}

bool CSha256::Finish(Sha256Digest& digest) {
    const bool bOk =
        m_pImpl->bReady && Succeeded(::BCryptFinishHash(m_pImpl->hash, digest.data(),
                                                        static_cast<ULONG>(digest.size()), 0));
    if (m_pImpl->hash != nullptr)
        ::BCryptDestroyHash(m_pImpl->hash);
    m_pImpl->Open();
    return bOk;
}

struct CP256PublicKey::Impl {
    BCRYPT_KEY_HANDLE key = nullptr;
    ~Impl() {
        if (key != nullptr)
            ::BCryptDestroyKey(key);
    }
};

CP256PublicKey::CP256PublicKey() : m_pImpl(std::make_unique<Impl>()) {}
CP256PublicKey::~CP256PublicKey() = default;
CP256PublicKey::CP256PublicKey(CP256PublicKey&&) noexcept = default;
CP256PublicKey& CP256PublicKey::operator=(CP256PublicKey&&) noexcept = default;

bool CP256PublicKey::Import(const std::uint8_t* point, std::size_t size) {
    if (size != 65 || point[0] != 0x04 || EcdsaProvider() == nullptr)
        return false;
    // BCRYPT_ECCKEY_BLOB followed by X and Y.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point + 1, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!Succeeded(::BCryptImportKeyPair(EcdsaProvider(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                         blob.data(), static_cast<ULONG>(blob.size()), 0)))
        return false;
    if (m_pImpl->key != nullptr)
        ::BCryptDestroyKey(m_pImpl->key);
    m_pImpl->key = key;
    return true;
}

bool CP256PublicKey::Verify(const Sha256Digest& digest,
                            const std::array<std::uint8_t, 64>& rs) const {
    if (m_pImpl->key == nullptr)
        return false;
    Sha256Digest hash = digest;
    std::array<std::uint8_t, 64> signature = rs;
    return Succeeded(::BCryptVerifySignature(m_pImpl->key, nullptr, hash.data(),
                                             static_cast<ULONG>(hash.size()), signature.data(),
                                             static_cast<ULONG>(signature.size()), 0));
}

bool RandomBytes(void* data, std::size_t size) {
    return size <= ULONG_MAX &&
           Succeeded(::BCryptGenRandom(nullptr, static_cast<PUCHAR>(data), static_cast<ULONG>(size),
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool GenerateP256KeyPair(CP256KeyPair& pair) {
    if (EcdsaProvider() == nullptr)
        return false;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!Succeeded(::BCryptGenerateKeyPair(EcdsaProvider(), &key, 256, 0)))
        return false;
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
    ULONG nBlob = 0;
    const bool bOk = Succeeded(::BCryptFinalizeKeyPair(key, 0)) &&
                     Succeeded(::BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                                 static_cast<ULONG>(blob.size()), &nBlob, 0)) &&
                     nBlob == blob.size();
    ::BCryptDestroyKey(key);
    if (!bOk)
        return false;
    // The blob: its header, then X, Y and d of 32 bytes each.
    pair.point[0] = 0x04;
    std::memcpy(pair.point.data() + 1, blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), 64);
    std::memcpy(pair.d.data(), blob.data() + sizeof(BCRYPT_ECCKEY_BLOB) + 64, 32);
    ::SecureZeroMemory(blob.data(), blob.size());
    return true;
}

bool SignP256(const CP256KeyPair& pair, const Sha256Digest& digest,
              std::array<std::uint8_t, 64>& rs) {
    if (EcdsaProvider() == nullptr || pair.point[0] != 0x04)
        return false;
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, pair.point.data() + 1, 64);
    std::memcpy(blob.data() + sizeof header + 64, pair.d.data(), 32);
    BCRYPT_KEY_HANDLE key = nullptr;
    const bool bImported =
        Succeeded(::BCryptImportKeyPair(EcdsaProvider(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &key,
                                        blob.data(), static_cast<ULONG>(blob.size()), 0));
    ::SecureZeroMemory(blob.data(), blob.size());
    if (!bImported)
        return false;
    Sha256Digest hash = digest;
    ULONG nSignature = 0;
    const bool bOk =
        Succeeded(::BCryptSignHash(key, nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                                   rs.data(), static_cast<ULONG>(rs.size()), &nSignature, 0)) &&
        nSignature == rs.size();
    ::BCryptDestroyKey(key);
    return bOk;
}

} // namespace plat
