// The encodings of trusted mode's keys and signatures, read strictly: PEM blocks, a P-256
// public key (SubjectPublicKeyInfo, as `openssl ec -pubout` writes it) and a DER ECDSA
// signature (as `openssl dgst -sign` writes it). Only decoding lives here; the checks
// themselves are the system's (platform/Crypto.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The contents of every "-----BEGIN <label>-----" ... "-----END <label>-----" block of text,
// base64-decoded, in order. False when a block is not closed, its base64 is not valid, or a
// block of another label is present (labels go into otherLabel).
bool DecodePemBlocks(const std::string& text, const std::string& label,
                     std::vector<std::vector<std::uint8_t>>& blocks, std::string& otherLabel);

// The uncompressed point (0x04, X, Y) of a DER SubjectPublicKeyInfo of an EC key on P-256.
// False for any other key, curve or encoding.
bool ParseP256PublicKeyInfo(const std::vector<std::uint8_t>& der,
                            std::array<std::uint8_t, 65>& point);

// The private key of a P-256 pair, from a DER "EC PRIVATE KEY" (SEC 1, with its curve and public
// key, as `openssl ecparam -genkey -noout` writes it) or "PRIVATE KEY" (PKCS #8, as `openssl
// genpkey` writes it). False for any other key or encoding.
bool ParseP256PrivateKey(const std::vector<std::uint8_t>& der, bool bPkcs8,
                         std::array<std::uint8_t, 32>& d, std::array<std::uint8_t, 65>& point);

// The DER forms the publishing side writes: a SubjectPublicKeyInfo, a SEC 1 private key, and
// an ECDSA-Sig-Value of r and s.
std::vector<std::uint8_t> EncodeP256PublicKeyInfo(const std::array<std::uint8_t, 65>& point);
std::vector<std::uint8_t> EncodeP256PrivateKey(const std::array<std::uint8_t, 32>& d,
                                               const std::array<std::uint8_t, 65>& point);
std::string EncodeDerEcdsaSignature(const std::array<std::uint8_t, 64>& rs);

// A PEM block of der with label, in lines of 64 characters.
std::string EncodePem(const std::string& label, const std::vector<std::uint8_t>& der);

// r and s (32 bytes each, big-endian) of a DER ECDSA-Sig-Value. False unless the bytes are
// exactly one strict DER SEQUENCE of two positive INTEGERs of at most 32 bytes.
bool ParseDerEcdsaSignature(const std::string& der, std::array<std::uint8_t, 64>& rs);
