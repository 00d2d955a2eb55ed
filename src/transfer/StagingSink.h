// A download into the staging folder: "<staged>.part" takes the body (after what an earlier
// try left, when the server still has the file it began), hashed while it streams, and
// becomes "<staged>" only with the list's size and SHA-256. The server's Last-Modified is kept
// as the validator of a later try (see CPartialValidators): at once for a large file, and for
// a smaller one when its try fails or stops. A small file that the end of the process cuts is
// fetched whole again, which costs less than a record written for every file.
#pragma once

#include "transfer/FileSink.h"
#include "updatelist/DownFileItem.h"

#include <optional>
#include <string>

class CStagingSink : public CFileSink {
public:
    CStagingSink(const DownFileItem& item, std::string strStaged,
                 const plat::Sha256Digest& expected);

    std::int64_t Offset() const override { return m_nOffset; }
    std::string IfRange() const override { return m_strLastModified; }
    // 0, or -3 when the partial file cannot be read or opened.
    int Begin(plat::CHttpRequest& request, bool bResumed) override;
    // For bytes that come from elsewhere than an answer (a decoded form): the partial file
    // starts empty, without a validator. 0, or -3.
    int BeginLocal();
    // 0, or -3 close or move failed, -4 size, -8 hash. A partial file that is too long or has
    // another hash is removed; a short one stays for the next try.
    int Finish(std::int64_t nReceived) override;
    // The partial file stays; its validator is recorded if it was not yet.
    void Abandon(int r) override;

    static std::string PartialPath(const std::string& staged) { return staged + ".part"; }
    // The smallest staged file whose writing starts as soon as it is whole; smaller ones are
    // left to a batch (CStagedWriteBack).
    static constexpr std::int64_t kWriteBackFrom = 256 * 1024;
    // The smallest file whose validator is recorded as soon as its answer is accepted.
    static constexpr std::int64_t kRecordValidatorFrom = 1024 * 1024;

private:
    int Verify(std::int64_t nTotal);
    void RecordValidator();
    const DownFileItem& m_item;
    const std::string m_strStaged;
    const plat::Sha256Digest m_expected;
    const std::int64_t m_nExpected;
    std::int64_t m_nOffset = 0;
    std::string m_strLastModified;
    std::optional<std::string> m_answerValidator; // this try's answer's, until recorded
};

// The SHA-256 of a whole file fed into sha; false when it cannot be read.
bool HashFileInto(const std::string& path, plat::CSha256& sha);
