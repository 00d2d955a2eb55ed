// How a run fetches its list and brings the files up to date: the plain run of the
// specification's steps, or trusted mode (signed list, hashed files, one transaction). The
// engine picks one when the run starts; nothing else asks which it is.
#pragma once

#include "transfer/BodySink.h"
#include "transfer/SyncConnection.h"
#include "updatelist/DownFileItem.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CSyncEngine;

// FetchListFile's answer for a phased release whose turn on this workstation has not come.
inline constexpr int kListNotYetDue = -9;

class CRunMode {
public:
    virtual ~CRunMode() = default;
    // The encoding of the run's request paths.
    virtual CSyncConnection::EncodeFn UrlEncoding() const = 0;
    // The longest line the list reader takes whole.
    virtual std::size_t ListLineMax() const = 0;
    // How often a transfer that failed for a transient reason is tried again.
    virtual int Retries(const CSyncEngine& engine) const = 0;
    // Before the list is fetched: what an earlier run left unfinished is finished.
    virtual void Recover(CSyncEngine& /*engine*/) {}
    // The list file from the server into its local place. 0, or -1 the download failed, -3
    // refused (the local list file stays as it was).
    virtual int FetchListFile(CSyncEngine& engine) = 0;
    // The bytes of the list that FetchListFile accepted, when the mode keeps them: the run
    // reads its items from exactly what was checked, not from the file written after it.
    // nullptr: the items are read from the list file.
    virtual const std::string* AcceptedListBytes() const { return nullptr; }
    // After kListNotYetDue: when this workstation's turn comes (UTC seconds).
    virtual std::int64_t TurnComesAt() const { return 0; }
    // Where a download into its target writes (see CTargetFileSink).
    virtual std::unique_ptr<CBodySink> TargetSink(const DownFileItem& item) const = 0;
    // Every item of the list brought up to date. 1 every item handled, 0 at least one failed;
    // bAllDone: every item came through (no temporary file of this run can be left).
    // Raises CHttpError.
    virtual int DownloadFiles(CSyncEngine& engine, bool& bAllDone) = 0;
    // The deletions of the DEL lines after the downloads.
    virtual void DeleteListedFiles(CSyncEngine& engine) = 0;
};
