// Trusted mode's pieces against the keys and lists of the test PKI (tests/pki): the system's
// SHA-256, the key file, the verifier of signed lists, and the hash column.
#include "platform/Crypto.h"
#include "support/Nginx.h"
#include "support/TempDir.h"
#include "trust/Der.h"
#include "trust/ListKeys.h"
#include "trust/SignedList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace {

using ::testing::HasSubstr;

std::string Pki(const std::string& name) {
    return kstest::ReadFileBytes(kstest::PkiPath(name));
}

class TrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (kstest::PkiPath("key1.pub").empty())
            GTEST_SKIP() << "the test PKI is made by ctest (tests/pki/make-test-pki.sh)";
    }
    std::vector<plat::CP256PublicKey> Keys(const std::string& name) {
        std::vector<plat::CP256PublicKey> keys;
        std::string why;
        EXPECT_EQ(LoadListKeys(kstest::PkiPath(name), keys, why), kListKeysLoaded) << why;
        return keys;
    }
};

TEST(Sha256, KnownAnswersWholeAndInPieces) {
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        plat::CSha256 whole;
        ASSERT_TRUE(whole.Ready());
        whole.Update(c.text.data(), c.text.size());
        plat::Sha256Digest digest{};
        ASSERT_TRUE(whole.Finish(digest));
        EXPECT_EQ(Sha256Hex(digest), c.digest);
        plat::CSha256 pieces;
        for (std::size_t i = 0; i < c.text.size(); i += 4093)
            pieces.Update(c.text.data() + i, std::min<std::size_t>(4093, c.text.size() - i));
        ASSERT_TRUE(pieces.Finish(digest));
        EXPECT_EQ(Sha256Hex(digest), c.digest);
    }
}

TEST_F(TrustTest, KeyFiles) {
    const struct {
        const char* file;
        int nResult;
        std::size_t nKeys;
    } cases[] = {
        {"key1.pub", kListKeysLoaded, 1},    {"both.pub", kListKeysLoaded, 2},
        {"p384.pub", kListKeysInvalid, 0},   {"garbage.pub", kListKeysInvalid, 0},
        {"empty.pub", kListKeysInvalid, 0},  {"private.pub", kListKeysInvalid, 0},
        {"no-such.pub", kListKeysAbsent, 0},
    };
    for (const auto& c : cases) {
        std::vector<plat::CP256PublicKey> keys;
        std::string why;
        EXPECT_EQ(LoadListKeys(kstest::PkiPath(c.file), keys, why), c.nResult) << c.file;
        EXPECT_EQ(keys.size(), c.nKeys) << c.file;
        EXPECT_EQ(why.empty(), c.nResult != kListKeysInvalid) << c.file << ": " << why;
    }
}

TEST_F(TrustTest, SignedLists) {
    const std::vector<plat::CP256PublicKey> key1 = Keys("key1.pub");
    const std::vector<plat::CP256PublicKey> key2 = Keys("key2.pub");
    const std::vector<plat::CP256PublicKey> both = Keys("both.pub");
    const std::string good = Pki("good.txt");
    const std::string goodSig = Pki("good.txt.sig");
    std::string tampered = good;
    tampered[good.size() - 2] ^= 1;
    const std::int64_t tNow = 1765000000;
    // The list with its signature carried in its last line, as a release store serves it.
    const std::string carried = WithCarriedSignature(good, goodSig);
    std::string carriedCrLf = carried;
    carriedCrLf.insert(carriedCrLf.size() - 1, "\r");
    std::string carriedBadHex = carried;
    carriedBadHex[carried.size() - 2] = 'x';
    const struct {
        const char* name;
        std::string list;
        std::string sig;
        const std::vector<plat::CP256PublicKey>& keys;
        std::int64_t nKept;
        const char* reason; // nullptr: accepted
    } cases[] = {
        {"good", good, goodSig, key1, 0, nullptr},
        {"equal serial", good, goodSig, key1, 5, nullptr},
        {"second of two keys", good, Pki("good.txt.key2.sig"), both, 0, nullptr},
        {"other key only", good, goodSig, key2, 0, "matches none of the keys"},
        {"tampered byte", tampered, goodSig, key1, 0, "matches none of the keys"},
        {"another list's signature", good, Pki("other.txt.sig"), key1, 0, "matches none"},
        {"truncated signature", good, goodSig.substr(0, goodSig.size() - 1), key1, 0,
         "not a DER ECDSA signature"},
        {"empty signature", good, "", key1, 0, "the signature is empty"},
        {"lower serial", good, goodSig, key1, 6, "lower than the serial 6"},
        {"expired", Pki("expired.txt"), Pki("expired.txt.sig"), key1, 0,
         "expired at 20200101000000"},
        {"no serial", Pki("noserial.txt"), Pki("noserial.txt.sig"), key1, 0, "#serial=N"},
        {"over-long line", Pki("long.txt"), Pki("long.txt.sig"), key1, 0, "line 2 is longer"},
        {"broken expiry", Pki("badexpiry.txt"), Pki("badexpiry.txt.sig"), key1, 0,
         "#expires=YYYYMMDDhhmmss"},
        {"carried", carried, "", key1, 0, nullptr},
        {"carried, CR LF", carriedCrLf, "", key1, 0, nullptr},
        {"carried wins over a .sig", carried, Pki("other.txt.sig"), key1, 0, nullptr},
        {"carried by another key", carried, "", key2, 0, "matches none of the keys"},
        {"carried, a line added after it", carried + "x.dll\n", goodSig, key1, 0,
         "matches none of the keys"},
        {"carried, a byte changed above it", WithCarriedSignature(tampered, goodSig), "", key1, 0,
         "matches none of the keys"},
        {"carried, not hex", carriedBadHex, goodSig, key1, 0, "not hexadecimal"},
    };
    for (const auto& c : cases) {
        const CListVerdict verdict = VerifySignedList(c.list, c.sig, c.keys, c.nKept, tNow);
        EXPECT_EQ(verdict.bAccepted, c.reason == nullptr) << c.name << ": " << verdict.strReason;
        if (c.reason != nullptr) {
            EXPECT_THAT(verdict.strReason, HasSubstr(c.reason)) << c.name;
        } else {
            EXPECT_EQ(verdict.nSerial, 5) << c.name;
        }
    }
}

TEST(HashColumn, Parsing) {
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = lower;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct {
        std::string text;
        bool bValid;
    } cases[] = {{lower, true},
                 {upper, true},
                 {lower.substr(1), false},
                 {lower + "0", false},
                 {lower.substr(1) + "g", false},
                 {" " + lower.substr(1), false},
                 {"", false}};
    for (const auto& c : cases) {
        plat::Sha256Digest digest{};
        EXPECT_EQ(ParseSha256Hex(c.text, digest), c.bValid) << c.text;
        if (c.bValid) {
            EXPECT_EQ(Sha256Hex(digest), lower);
        }
    }
}

TEST(DerSignature, StrictEncodingOnly) {
    const auto hex = [](const std::string& text) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < text.size(); i += 2)
            bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
        return bytes;
    };
    const struct {
        const char* der;
        bool bValid;
    } cases[] = {
        {"3006020101020102", true},     // r = 1, s = 2
        {"300702020080020102", true},   // r = 0x80 needs its leading zero
        {"30070202000102 0102", false}, // an unneeded leading zero
        {"3006020181020102", false},    // a negative r
        {"3006020101020102 00", false}, // a byte after the sequence
        {"3007020101020102", false},    // a length that does not fit
        {"3106020101020102", false},    // not a sequence
        {"30050201010201", false},      // s cut short
    };
    for (const auto& c : cases) {
        std::string text = c.der;
        text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
        std::array<std::uint8_t, 64> rs{};
        EXPECT_EQ(ParseDerEcdsaSignature(hex(text), rs), c.bValid) << c.der;
    }
}

} // namespace

namespace {

// The publishing side's keys and signatures, made by this system's own crypto, go through the
// workstations' decoders and verifier.
TEST(KeyPair, SignsWhatTheVerifierAccepts) {
    plat::CP256KeyPair pair;
    ASSERT_TRUE(plat::GenerateP256KeyPair(pair));
    std::array<std::uint8_t, 32> d{};
    std::array<std::uint8_t, 65> point{};
    ASSERT_TRUE(ParseP256PrivateKey(EncodeP256PrivateKey(pair.d, pair.point), false, d, point));
    EXPECT_TRUE(d == pair.d && point == pair.point);
    std::vector<std::vector<std::uint8_t>> blocks;
    std::string other;
    ASSERT_TRUE(DecodePemBlocks(EncodePem("PUBLIC KEY", EncodeP256PublicKeyInfo(pair.point)),
                                "PUBLIC KEY", blocks, other));
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_TRUE(ParseP256PublicKeyInfo(blocks[0], point));
    std::vector<plat::CP256PublicKey> keys(1);
    ASSERT_TRUE(keys[0].Import(point.data(), point.size()));
    const std::string list = "#serial=9\na.txt\n";
    plat::CSha256 sha;
    sha.Update(list.data(), list.size());
    plat::Sha256Digest digest{};
    ASSERT_TRUE(sha.Finish(digest));
    std::array<std::uint8_t, 64> rs{};
    ASSERT_TRUE(plat::SignP256(pair, digest, rs));
    const std::string der = EncodeDerEcdsaSignature(rs);
    EXPECT_TRUE(VerifySignedList(list, der, keys, 0, 0).bAccepted);
    EXPECT_FALSE(VerifySignedList(list + " ", der, keys, 0, 0).bAccepted);
}

} // namespace
