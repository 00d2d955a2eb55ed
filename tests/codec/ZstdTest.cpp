// zstd copies and patches: what the publishing tool encodes decodes to the same bytes, and the
// decoder refuses damaged, cut, foreign and oversized frames without handing on more than its
// bound.
#include "codec/Zstd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// n bytes of text from a fixed vocabulary in an order given by seed: compressible, and without
// the long repeats that would let a compressed copy be as small as a patch.
std::string Text(std::uint32_t nSeed, std::size_t n) {
    std::mt19937 words(1); // the same vocabulary for every seed
    std::vector<std::string> vocabulary(4096);
    for (std::string& word : vocabulary) {
        word.assign(3 + words() % 8, ' ');
        for (char& c : word) {
            c = static_cast<char>('a' + words() % 26);
        }
    }
    std::mt19937 order(nSeed);
    std::string text;
    while (text.size() < n) {
        text += vocabulary[order() % vocabulary.size()];
        text += order() % 12 == 0 ? '\n' : ' ';
    }
    text.resize(n);
    return text;
}

// The reference with a few lines changed, one inserted and one removed.
std::string Edited(std::string text) {
    text.replace(1000, 20, "a changed line of the next version");
    text.insert(text.size() / 2, "an inserted line\n");
    text.erase(text.size() - 5000, 300);
    return text;
}

struct Decoded {
    int nResult = 0;
    std::string content;
    std::uint64_t nOutput = 0;
    std::string error;
    bool bWhole = false;
};

// Feeds frame in pieces of nPiece bytes; the consumer answers nConsumerCode.
Decoded Decode(const std::string& frame, std::string_view reference, std::uint64_t nMax,
               std::size_t nPiece, int nConsumerCode = 0) {
    Decoded d;
    CZstdDecoder decoder(
        [&](const char* p, std::size_t n) {
            d.content.append(p, n);
            return nConsumerCode;
        },
        nMax, reference);
    for (std::size_t i = 0; i < frame.size() && d.nResult == 0; i += nPiece) {
        d.nResult = decoder.Write(frame.data() + i, std::min(nPiece, frame.size() - i));
    }
    if (d.nResult == 0) {
        d.nResult = decoder.Finish();
    }
    d.nOutput = decoder.Output();
    d.error = decoder.Error();
    d.bWhole = decoder.DecodedWhole();
    return d;
}

TEST(ZstdTest, CopiesAndPatchesDecodeAndBadFramesFail) {
    const std::string reference = Text(7, 1 << 20);
    const std::string target = Edited(reference);
    const std::string other = Text(8, reference.size());
    std::string copy, patch, bomb;
    ASSERT_TRUE(ZstdCompress(target, copy));
    ASSERT_TRUE(ZstdPatch(reference, target, patch));
    ASSERT_TRUE(ZstdCompress(std::string(200u << 20, '\0'), bomb, 1));
    EXPECT_LT(patch.size() * 20, copy.size()) << patch.size() << " vs " << copy.size();
    EXPECT_LT(bomb.size(), 64u << 10);

    const std::uint64_t nTarget = target.size();
    struct Case {
        const char* what;
        std::string frame;
        std::string_view reference;
        std::uint64_t nMax;
        std::size_t nPiece;
        int nConsumerCode;
        int nExpected;
        // Decoded in one step (a whole frame in the first Write): fed in its pieces, and fed
        // in one piece.
        bool bWholeInPieces;
        bool bWholeInOne;
    };
    const std::string cut = copy.substr(0, copy.size() - 10);
    const int kOk = CZstdDecoder::kOk;
    const int kCorrupt = CZstdDecoder::kCorrupt;
    const int kOverBound = CZstdDecoder::kOverBound;
    const int kIncomplete = CZstdDecoder::kIncomplete;
    const Case cases[] = {
        {"a copy", copy, {}, nTarget, 4096, 0, kOk, false, true},
        {"a copy in odd pieces", copy, {}, nTarget, 7, 0, kOk, false, true},
        {"a patch with its reference", patch, reference, nTarget, 100, 0, kOk, false, true},
        {"a patch without its reference", patch, {}, nTarget, 100, 0, kCorrupt, false, true},
        {"a patch with another reference", patch, other, nTarget, 100, 0, kCorrupt, false, true},
        {"a cut copy", cut, {}, nTarget, 4096, 0, kIncomplete, false, false},
        {"nothing", "", {}, nTarget, 4096, 0, kIncomplete, false, false},
        {"not a frame", target.substr(0, 5000), {}, nTarget, 4096, 0, kCorrupt, false, false},
        {"bytes after the frame", copy + "garbage", {}, nTarget, 4096, 0, kCorrupt, false, false},
        {"after the frame, fed alone",
         copy + "g",
         {},
         nTarget,
         copy.size(),
         0,
         kCorrupt,
         true,
         false},
        {"a copy one byte over the bound",
         copy,
         {},
         nTarget - 1,
         4096,
         0,
         kOverBound,
         false,
         false},
        {"200 MB of zeros in a few KB", bomb, {}, 1 << 20, 4096, 0, kOverBound, false, false},
        {"the consumer's code", copy, {}, nTarget, 4096, 42, 42, false, true},
    };
    // Each frame in its pieces, and in one piece: the one-step and the streaming decoding give
    // the same answers.
    for (const Case& c : cases) {
        for (const std::size_t nPiece : {c.nPiece, std::max<std::size_t>(c.frame.size(), 1)}) {
            const std::string what =
                std::string(c.what) + (nPiece == c.nPiece ? "" : ", in one piece");
            const Decoded d = Decode(c.frame, c.reference, c.nMax, nPiece, c.nConsumerCode);
            EXPECT_EQ(d.nResult, c.nExpected) << what << ": " << d.error;
            EXPECT_LE(d.content.size(), c.nMax) << what;
            EXPECT_EQ(d.nOutput, c.nConsumerCode == 0 ? d.content.size() : 0u) << what;
            EXPECT_EQ(d.bWhole, nPiece == c.nPiece ? c.bWholeInPieces : c.bWholeInOne) << what;
            if (c.nExpected == kOk) {
                EXPECT_TRUE(d.content == target) << what;
            } else {
                EXPECT_FALSE(d.error.empty()) << what;
            }
        }
    }
    EXPECT_TRUE(ZstdPatchFits(kZstdPatchMaxTotal - 1, 1));
    EXPECT_FALSE(ZstdPatchFits(kZstdPatchMaxTotal, 1));
}

} // namespace
