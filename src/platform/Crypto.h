// The system's own cryptography: SHA-256, and ECDSA P-256 signature checks. Windows: CNG
// (bcrypt); POSIX: OpenSSL's libcrypto. Both sides take the same inputs and give the same
// answers; nothing here parses text formats (see trust/ for PEM and DER).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace plat {

using Sha256Digest = std::array<std::uint8_t, 32>;

// A streaming SHA-256.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // False when the system has no SHA-256 (then every Update and Finish fails too).
    bool Ready() const;
    void Update(const void* data, std::size_t size);
    // The digest of everything given since construction or the last Finish, which starts anew.
    // False when the system failed.
    bool Finish(Sha256Digest& digest);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// A P-256 public key.
class CP256PublicKey {
public:
    CP256PublicKey();
    ~CP256PublicKey();
    CP256PublicKey(CP256PublicKey&&) noexcept;
    CP256PublicKey& operator=(CP256PublicKey&&) noexcept;

    // Imports the uncompressed point (0x04, X, Y: 65 bytes). False when the system refuses it
    // (not a point of the curve).
    bool Import(const std::uint8_t* point, std::size_t size);
    // True when the signature (r and s, 32 bytes each, big-endian) is this key's over digest.
    bool Verify(const Sha256Digest& digest, const std::array<std::uint8_t, 64>& rs) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// A P-256 key pair for signing lists: the private scalar and the uncompressed public point.
struct CP256KeyPair {
    std::array<std::uint8_t, 32> d{};
    std::array<std::uint8_t, 65> point{};
};

// size bytes from the system's random source into data; false when the system failed.
bool RandomBytes(void* data, std::size_t size);

// A new key pair from the system's random source; false when the system failed.
bool GenerateP256KeyPair(CP256KeyPair& pair);

// The signature (r and s, 32 bytes each) of digest with the pair; false when the system
// refuses the key.
bool SignP256(const CP256KeyPair& pair, const Sha256Digest& digest,
              std::array<std::uint8_t, 64>& rs);

} // namespace plat
