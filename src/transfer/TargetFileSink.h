// A download into its target: the bytes go to "<target>.ks-download", which takes the
// target's place only when it is complete (with the list's size, and its SHA-256 when asked),
// and gets the server's time.
#pragma once

#include "transfer/FileSink.h"
#include "updatelist/DownFileItem.h"

class CTargetFileSink : public CFileSink {
public:
    // bKeepTarget: a failed download leaves the target as it was; without it the partial file
    // takes the target's place (the caller then deletes it) and a target that cannot be
    // written is deleted. bVerifyHash: the content must have the item's SHA-256.
    CTargetFileSink(const DownFileItem& item, bool bKeepTarget, bool bVerifyHash);

    // -8 when the item has no valid SHA-256 to check against.
    int Ready() override;
    // The target's folders and its read-only attribute cleared, and the temporary file open.
    // 0, or -3 the target cannot be written or the temporary file cannot be opened, -6 the
    // attribute stayed.
    int Begin(plat::CHttpRequest& request, bool bResumed) override;
    // 0, or -3 close or replace failed, -4 size, -5 time (status unreadable), -6 the time
    // could not be set, -8 the content has another SHA-256.
    int Finish(std::int64_t nReceived) override;
    void Abandon(int r) override;

private:
    int CheckContent(std::int64_t nReceived);
    int SetTime();
    // What a failure leaves: the partial file in the target's place, or nothing.
    void DropPartial();
    const DownFileItem& m_item;
    const bool m_bKeepTarget;
    bool m_bOpened = false;
    plat::Sha256Digest m_expected{};
};
