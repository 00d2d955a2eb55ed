// zstd frames for file transfers: a compressed copy of a file, or a patch that needs the
// earlier version of the file (the reference) to decode ("patch-from": the reference is the
// frame's prefix). Encoding takes whole files in memory (the publishing tool); decoding
// streams (the workstation). Every frame carries a checksum of its content, so that a patch
// decoded against another reference fails instead of giving other bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ZSTD_DCtx_s;

// Largest window a frame may ask of the decoder, as a power of two: 2^27 bytes (128 MiB) is
// the most memory a decoder takes for a frame beside the caller's reference.
inline constexpr int kZstdWindowLogMax = 27;
// A patch's window covers its reference and its target: the largest reference size plus
// target size a patch is made for (and decodes within the window above). Larger files go as
// compressed copies.
inline constexpr std::uint64_t kZstdPatchMaxTotal = std::uint64_t{1} << kZstdWindowLogMax;

// The publishing tool's levels (1..22): 19, the smallest frames before the levels whose
// larger windows cost the decoder memory. A 4.7 MB library takes about 1.8 s as a copy and
// 1.3 s as a patch on one core; decoding either runs at several hundred MB/s.
inline constexpr int kZstdCopyLevel = 19;
inline constexpr int kZstdPatchLevel = 19;

// True when a patch from a reference of nReference bytes to nTarget bytes can be made.
bool ZstdPatchFits(std::uint64_t nReference, std::uint64_t nTarget);

// One frame with the whole input. False (output undefined) when zstd fails.
bool ZstdCompress(const std::string& input, std::string& output, int nLevel = kZstdCopyLevel);

// One frame with target that decodes only with reference as the prefix. False (patch
// undefined) when the two do not fit (ZstdPatchFits) or zstd fails.
bool ZstdPatch(const std::string& reference, const std::string& target, std::string& patch,
               int nLevel = kZstdPatchLevel);

// The largest content a whole frame given in one Write is decoded to in one step (into one
// buffer, without a decoding window of its own); larger ones stream.
inline constexpr std::uint64_t kZstdWholeMax = std::uint64_t{16} << 20;

// Decodes one frame fed in pieces and hands the content to a consumer as it comes. Results of
// Write and Finish: kOk, one of the codes below, or the consumer's own non-zero code (which
// must differ from them). The first failure sticks: every later call returns it again. The
// content is known good only when Finish returns kOk (the checksum is checked at the end).
class CZstdDecoder {
public:
    // The consumer takes the next decoded bytes: 0, or a code that stops the decoding.
    using Consumer = std::function<int(const char*, std::size_t)>;

    static constexpr int kOk = 0;
    static constexpr int kCorrupt = -101;    // not a zstd frame, damaged, wrong reference, or
                                             // bytes after the frame
    static constexpr int kOverBound = -102;  // the content is longer than nMaxOutput
    static constexpr int kIncomplete = -103; // Finish before the frame's end

    // Gives the consumer at most nMaxOutput bytes. reference: the prefix of a patch, or empty
    // for a compressed copy; its bytes are not copied and must stay alive and unchanged until
    // Finish has returned (or the decoder is gone).
    CZstdDecoder(Consumer consumer, std::uint64_t nMaxOutput, std::string_view reference = {});
    ~CZstdDecoder();
    CZstdDecoder(const CZstdDecoder&) = delete;
    CZstdDecoder& operator=(const CZstdDecoder&) = delete;

    // The next nSize bytes of the frame.
    int Write(const char* pData, std::size_t nSize);
    // After the last byte: kOk when the frame was whole and its checksum matched.
    int Finish();
    // Why the decoding failed (zstd's reason, or the bound); empty while it has not.
    const std::string& Error() const { return m_strError; }
    // The bytes handed to the consumer so far.
    std::uint64_t Output() const { return m_nOutput; }
    // True when the frame came whole in the first Write, said its content size, and that size
    // was within the bound and kZstdWholeMax: it was then decoded in one step.
    bool DecodedWhole() const { return m_bWhole; }

private:
    bool CanDecodeWhole(const char* pData, std::size_t nSize) const;
    int DecodeWhole(const char* pData, std::size_t nSize);
    int Decode(const char* pData, std::size_t nSize);
    int Deliver(const char* pData, std::size_t nSize);
    int Fail(int nResult, std::string strError);

    Consumer m_consumer;
    const std::uint64_t m_nMaxOutput;
    ZSTD_DCtx_s* m_pCtx = nullptr;
    std::vector<char> m_out; // one zstd output block, reused (made by the first Decode)
    std::uint64_t m_nOutput = 0;
    bool m_bStarted = false; // a Write has been taken
    bool m_bWhole = false;
    bool m_bFrameEnd = false;
    int m_nResult = kOk;
    std::string m_strError;
};
