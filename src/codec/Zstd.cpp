#include "codec/Zstd.h"

#include "platform/LargeBuffer.h"

#include <zstd.h>

#include <memory>
#include <utility>

namespace {

struct CCCtxFree {
    void operator()(ZSTD_CCtx* pCtx) const { ZSTD_freeCCtx(pCtx); }
};
using CCCtxPtr = std::unique_ptr<ZSTD_CCtx, CCCtxFree>;

// A context at nLevel whose frames end with a checksum of their content.
CCCtxPtr NewCCtx(int nLevel) {
    CCCtxPtr pCtx(ZSTD_createCCtx());
    if (pCtx == nullptr ||
        ZSTD_isError(ZSTD_CCtx_setParameter(pCtx.get(), ZSTD_c_compressionLevel, nLevel)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(pCtx.get(), ZSTD_c_checksumFlag, 1))) {
        return nullptr;
    }
    return pCtx;
}

bool CompressInto(ZSTD_CCtx* pCtx, const std::string& input, std::string& output) {
    output.resize(ZSTD_compressBound(input.size()));
    const std::size_t n =
        ZSTD_compress2(pCtx, output.data(), output.size(), input.data(), input.size());
    if (ZSTD_isError(n)) {
        return false;
    }
    output.resize(n);
    return true;
}

// The smallest window log zstd takes whose window holds nBytes.
int WindowLogFor(std::uint64_t nBytes) {
    int nLog = ZSTD_cParam_getBounds(ZSTD_c_windowLog).lowerBound;
    while ((std::uint64_t{1} << nLog) < nBytes) {
        ++nLog;
    }
    return nLog;
}

} // namespace

bool ZstdPatchFits(std::uint64_t nReference, std::uint64_t nTarget) {
    return nReference <= kZstdPatchMaxTotal && nTarget <= kZstdPatchMaxTotal - nReference;
}

bool ZstdCompress(const std::string& input, std::string& output, int nLevel) {
    CCCtxPtr pCtx = NewCCtx(nLevel);
    return pCtx != nullptr && CompressInto(pCtx.get(), input, output);
}

// As zstd's own --patch-from: the window reaches from the end of the target back to the
// start of the reference, and long-distance matching finds the reference's unchanged runs
// however far back they lie.
bool ZstdPatch(const std::string& reference, const std::string& target, std::string& patch,
               int nLevel) {
    if (!ZstdPatchFits(reference.size(), target.size())) {
        return false;
    }
    CCCtxPtr pCtx = NewCCtx(nLevel);
    const int nWindowLog = WindowLogFor(reference.size() + target.size());
    return pCtx != nullptr &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(pCtx.get(), ZSTD_c_windowLog, nWindowLog)) &&
           !ZSTD_isError(
               ZSTD_CCtx_setParameter(pCtx.get(), ZSTD_c_enableLongDistanceMatching, 1)) &&
           !ZSTD_isError(ZSTD_CCtx_refPrefix(pCtx.get(), reference.data(), reference.size())) &&
           CompressInto(pCtx.get(), target, patch);
}

CZstdDecoder::CZstdDecoder(Consumer consumer, std::uint64_t nMaxOutput, std::string_view reference)
    : m_consumer(std::move(consumer)), m_nMaxOutput(nMaxOutput), m_pCtx(ZSTD_createDCtx()) {
    if (m_pCtx == nullptr) {
        Fail(kCorrupt, "out of memory");
        return;
    }
    std::size_t r = ZSTD_DCtx_setParameter(m_pCtx, ZSTD_d_windowLogMax, kZstdWindowLogMax);
    if (!ZSTD_isError(r) && !reference.empty()) {
        r = ZSTD_DCtx_refPrefix(m_pCtx, reference.data(), reference.size());
    }
    if (ZSTD_isError(r)) {
        Fail(kCorrupt, ZSTD_getErrorName(r));
    }
}

CZstdDecoder::~CZstdDecoder() {
    ZSTD_freeDCtx(m_pCtx);
}

int CZstdDecoder::Write(const char* pData, std::size_t nSize) {
    if (m_nResult != kOk || nSize == 0) {
        return m_nResult;
    }
    if (m_bFrameEnd) {
        return Fail(kCorrupt, "data after the end of the frame");
    }
    const bool bFirst = !m_bStarted;
    m_bStarted = true;
    if (bFirst && CanDecodeWhole(pData, nSize)) {
        return DecodeWhole(pData, nSize);
    }
    return Decode(pData, nSize);
}

bool CZstdDecoder::CanDecodeWhole(const char* pData, std::size_t nSize) const {
    const std::size_t nFrame = ZSTD_findFrameCompressedSize(pData, nSize);
    if (ZSTD_isError(nFrame) || nFrame != nSize) {
        return false;
    }
    const unsigned long long nContent = ZSTD_getFrameContentSize(pData, nSize);
    return nContent != ZSTD_CONTENTSIZE_UNKNOWN && nContent != ZSTD_CONTENTSIZE_ERROR &&
           nContent <= m_nMaxOutput && nContent <= kZstdWholeMax;
}

// The reference set as the prefix serves this one-step call as it serves the stream. The
// content goes to a buffer each thread keeps for its next frames (memory of its own: a fresh
// heap block per frame cost a page fault per page, more than the decoding); one larger than
// kKeptMax is let go.
int CZstdDecoder::DecodeWhole(const char* pData, std::size_t nSize) {
    constexpr std::size_t kKeptMax = std::size_t{4} << 20;
    thread_local plat::CLargeBuffer content; // not cleared first: every byte is written
    m_bWhole = true;
    const auto nContent = static_cast<std::size_t>(ZSTD_getFrameContentSize(pData, nSize));
    if (!content.Reserve(nContent + 1)) {
        return Fail(kCorrupt, "out of memory");
    }
    const std::size_t r = ZSTD_decompressDCtx(m_pCtx, content.Data(), nContent, pData, nSize);
    int nResult = kOk;
    if (ZSTD_isError(r)) {
        nResult = Fail(kCorrupt, ZSTD_getErrorName(r));
    } else if (r != nContent) {
        nResult = Fail(kCorrupt, "the content is not as long as its frame says");
    } else {
        m_bFrameEnd = true;
        nResult = Deliver(content.Data(), r);
    }
    if (content.Capacity() > kKeptMax) {
        content.Release();
    }
    return nResult;
}

int CZstdDecoder::Finish() {
    if (m_nResult == kOk && !m_bFrameEnd) {
        return Fail(kIncomplete, "the frame ends early");
    }
    return m_nResult;
}

// Runs the decoder until it has taken all of the input and has no output left to give: a
// full output block may leave more behind.
int CZstdDecoder::Decode(const char* pData, std::size_t nSize) {
    if (m_out.empty()) {
        m_out.resize(ZSTD_DStreamOutSize());
    }
    ZSTD_inBuffer in = {pData, nSize, 0};
    bool bFull = false;
    do {
        ZSTD_outBuffer out = {m_out.data(), m_out.size(), 0};
        const std::size_t r = ZSTD_decompressStream(m_pCtx, &out, &in);
        if (ZSTD_isError(r)) {
            return Fail(kCorrupt, ZSTD_getErrorName(r));
        }
        const int nResult = Deliver(m_out.data(), out.pos);
        if (nResult != kOk) {
            return nResult;
        }
        m_bFrameEnd = r == 0;
        bFull = out.pos == out.size;
    } while (!m_bFrameEnd && (in.pos < in.size || bFull));
    if (in.pos < in.size) {
        return Fail(kCorrupt, "data after the end of the frame");
    }
    return kOk;
}

// The consumer never sees a byte past the bound.
int CZstdDecoder::Deliver(const char* pData, std::size_t nSize) {
    const std::uint64_t nRoom = m_nMaxOutput - m_nOutput;
    const std::size_t nGive = nSize <= nRoom ? nSize : static_cast<std::size_t>(nRoom);
    if (nGive > 0) {
        const int nResult = m_consumer(pData, nGive);
        if (nResult != kOk) {
            return Fail(nResult, "the consumer stopped the decoding");
        }
        m_nOutput += nGive;
    }
    if (nGive < nSize) {
        return Fail(kOverBound,
                    "the content is longer than " + std::to_string(m_nMaxOutput) + " bytes");
    }
    return kOk;
}

int CZstdDecoder::Fail(int nResult, std::string strError) {
    m_nResult = nResult;
    m_strError = std::move(strError);
    return nResult;
}
