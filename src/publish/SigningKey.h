// The operators' signing key ("list-signing.key": a P-256 private key in PEM, SEC 1 or
// PKCS #8) and what the publishing tool does with it: sign bytes as `openssl dgst -sha256
// -sign` does, name its public half, and check signatures with that half.
#pragma once

#include "platform/Crypto.h"

#include <string>
#include <vector>

class CSigningKey {
public:
    // Reads the key at path; false with the reason.
    bool Load(const std::string& path, std::string& why);

    // The DER signature of bytes with SHA-256; false when the system refuses the key.
    bool Sign(const std::string& bytes, std::string& signature) const;

    // The SHA-256 (lower-case hex) of the public half's DER SubjectPublicKeyInfo, as
    // `openssl pkey -pubout -outform DER | sha256sum` gives it.
    std::string PublicKeyId() const;

    // The public half, for the signature checks of trust/SignedList.h; empty when the system
    // refuses the point.
    std::vector<plat::CP256PublicKey> PublicKeys() const;

private:
    plat::CP256KeyPair m_pair;
};
