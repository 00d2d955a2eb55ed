// Trusted mode: the list is signed and verified before it is used, every file is hashed
// while it streams into the staging folder, and nothing under a target name changes until
// every file the run needs is staged; then the set goes into place as one transaction.
#pragma once

#include "apply/Apply.h"
#include "engine/FormStager.h"
#include "engine/RunMode.h"
#include "engine/SyncEngine.h"
#include "platform/Crypto.h"

#include <optional>
#include <string>
#include <vector>

class CTrustedRun : public CRunMode {
public:
    explicit CTrustedRun(std::vector<plat::CP256PublicKey> keys) : m_listKeys(std::move(keys)) {}

    CSyncConnection::EncodeFn UrlEncoding() const override;
    std::size_t ListLineMax() const override;
    int Retries(const CSyncEngine& engine) const override;
    // An apply that an ended run left is finished or undone.
    void Recover(CSyncEngine& engine) override;
    // The list file and its signature (the one it carries, else its ".sig" file) from the
    // server, verified, in the list file's place, and its serial kept. 0, or -1 the download
    // failed, -3 refused (logged with the reason), kListNotYetDue (a phased release whose turn
    // on this workstation comes at TurnComesAt; the list file stays the one it has).
    int FetchListFile(CSyncEngine& engine) override;
    std::int64_t TurnComesAt() const override { return m_tTurn; }
    // The verified list, once FetchListFile accepted it.
    const std::string* AcceptedListBytes() const override {
        return m_acceptedListBytes ? &*m_acceptedListBytes : nullptr;
    }
    // A failed download leaves the target as it was; the content must have its SHA-256.
    std::unique_ptr<CBodySink> TargetSink(const DownFileItem& item) const override;
    // Every decision first, then the room on the volume, every download into the staging
    // folder, and the apply of the whole set when all of them arrived.
    int DownloadFiles(CSyncEngine& engine, bool& bAllDone) override;
    // The DEL lines' files went (or stayed) with the apply's transaction.
    void DeleteListedFiles(CSyncEngine&) override {}

private:
    // The signature file at path (below the download base), at most kSignatureMax bytes.
    // False with the reason when there is none to take.
    static bool FetchSignature(CSyncEngine& engine, const std::string& path, std::string& signature,
                               std::string& reason);
    static int RefuseListFile(CSyncEngine& engine, const std::string& reason);
    static bool FetchListBytes(CSyncEngine& engine, std::string& bytes);
    static bool StoreListFile(const std::string& bytes);
    // The accepted list's hash and signature kept for the journal of the apply, and its
    // serial for the next run when it is above the one kept (nKept).
    void KeepAccepted(CSyncEngine& engine, const std::string& bytes, const std::string& signature,
                      std::int64_t nSerial, std::int64_t nKept);
    // Every item decided: the replacements to fetch and the deletions of the lines that count
    // (counting[i], the line that counts for item i's target); 1, or 0 when an item's
    // information could not be had.
    int DecideItems(CSyncEngine& engine, std::vector<DownFileItem*>& toFetch,
                    std::vector<DownFileItem*>& deletions, std::vector<std::size_t>& counting);
    // Room on the staging volume for what is still to be fetched; false when there is not
    // (reported).
    bool HasRoomToStage(CSyncEngine& engine, const std::vector<DownFileItem*>& toFetch);
    // Every item of toFetch staged and verified; false when one or more failed (reported).
    bool StageAll(CSyncEngine& engine, const std::vector<DownFileItem*>& toFetch,
                  std::vector<std::string>& stagedPaths);
    // Downloads one item into the staging folder (resuming what an earlier try left) and
    // verifies it there. 0, or the codes of DownloadOneFileFromServer.
    int StageItem(CSyncEngine& engine, CItemLane& lane, const DownFileItem& item,
                  std::string& staged);
    // The item staged from the local store or from a smaller form than its object; false
    // when neither gave it (logged), and the object is to be fetched.
    bool StageFromSmallerForms(CSyncEngine& engine, CItemLane& lane, const DownFileItem& item,
                               const plat::Sha256Digest& expected, const std::string& staged) const;
    // The staged set moved into place as one transaction, with the deletions; false when it
    // was undone (reported).
    bool ApplyStagedFiles(CSyncEngine& engine, const std::vector<DownFileItem*>& staged,
                          const std::vector<std::string>& stagedPaths,
                          const std::vector<DownFileItem*>& deletions);
    // The forms index the accepted list names (m_formsRef) and, when it names one, the list
    // file accepted before it, kept in memory (the patches a file can take are found through
    // it). Called before the accepted list replaces the list file.
    void KeepInstalledListBytes(const std::string& newList);
    // What that list says of the files here.
    CInstalledList InstalledList(CSyncEngine& engine) const;
    // RELEASE_SERIAL: the list's serial, once its every file is in place.
    void KeepInstalledRelease(CSyncEngine& engine) const;
    static void ReportApplyFailure(CSyncEngine& engine, int r, const CApplyFailure& failure);

    const std::vector<plat::CP256PublicKey> m_listKeys;
    CApplyOrigin m_listOrigin;        // the list this run verified, for the journal of its apply
    std::int64_t m_nListSerial = 0;   // its serial: the release the run installs
    std::int64_t m_tTurn = 0;         // when a release not yet due here is (UTC), else 0
    CFormsRef m_formsRef;             // the forms index the accepted list names, if any
    std::string m_installedListBytes; // the list accepted before it (KeepInstalledListBytes)
    std::optional<std::string> m_acceptedListBytes; // the list this run verified, as it came
    std::unique_ptr<CFormStager> m_pForms;          // taken when the run has files to fetch
    std::unique_ptr<CLocalStore> m_pLocal;          // LOCAL_STORE, looked at when there are
};
