// The plain run: the list as the server has it, each item downloaded into its target in turn.
#pragma once

#include "engine/RunMode.h"

class CPlainRun : public CRunMode {
public:
    CSyncConnection::EncodeFn UrlEncoding() const override;
    std::size_t ListLineMax() const override;
    int Retries(const CSyncEngine&) const override { return 0; }
    int FetchListFile(CSyncEngine& engine) override;
    // A failed download leaves its partial file in the target's place, for the loop to delete.
    std::unique_ptr<CBodySink> TargetSink(const DownFileItem& item) const override;
    int DownloadFiles(CSyncEngine& engine, bool& bAllDone) override;
    void DeleteListedFiles(CSyncEngine& engine) override;
};
