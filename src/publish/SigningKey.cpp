#include "publish/SigningKey.h"

#include "publish/TreeScan.h"
#include "trust/Der.h"
#include "trust/SignedList.h"

bool CSigningKey::Load(const std::string& path, std::string& why) {
    std::string text;
    if (!ReadAll(path, text)) {
        why = "cannot read " + path;
        return false;
    }
    // `openssl ecparam -genkey` without -noout puts the curve's parameters first.
    static const std::string kParams = "-----BEGIN EC PARAMETERS-----";
    static const std::string kParamsEnd = "-----END EC PARAMETERS-----";
    const std::size_t params = text.find(kParams);
    const std::size_t paramsEnd = text.find(kParamsEnd);
    if (params != std::string::npos && paramsEnd != std::string::npos)
        text.erase(params, paramsEnd + kParamsEnd.size() - params);
    for (const bool bPkcs8 : {false, true}) {
        std::vector<std::vector<std::uint8_t>> blocks;
        std::string other;
        if (DecodePemBlocks(text, bPkcs8 ? "PRIVATE KEY" : "EC PRIVATE KEY", blocks, other) &&
            blocks.size() == 1 && ParseP256PrivateKey(blocks[0], bPkcs8, m_pair.d, m_pair.point))
            return true;
    }
    why = path + " is not a P-256 private key in PEM";
    return false;
}

bool CSigningKey::Sign(const std::string& bytes, std::string& signature) const {
    plat::CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    plat::Sha256Digest digest{};
    std::array<std::uint8_t, 64> rs{};
    if (!sha.Finish(digest) || !plat::SignP256(m_pair, digest, rs))
        return false;
    signature = EncodeDerEcdsaSignature(rs);
    return true;
}

std::string CSigningKey::PublicKeyId() const {
    const std::vector<std::uint8_t> der = EncodeP256PublicKeyInfo(m_pair.point);
    return Sha256HexOf(std::string(der.begin(), der.end()));
}

std::vector<plat::CP256PublicKey> CSigningKey::PublicKeys() const {
    std::vector<plat::CP256PublicKey> keys(1);
    if (!keys[0].Import(m_pair.point.data(), m_pair.point.size()))
        keys.clear();
    return keys;
}
