// Trusted mode's smaller forms of an object (trust/FormIndex.h): an item to download is
// staged from a patch when its target holds the content the patch starts from, else from the
// compressed copy; the form is fetched like an object (checked against its own SHA-256,
// resumed with Range) and decoded into the staging folder, where the result must have the
// list's size and SHA-256 as always. A form that fails in any way is logged and the next one,
// and then the plain object, is taken: a form never fails an item by itself.
#pragma once

#include "codec/Zstd.h"
#include "engine/InstalledList.h"
#include "engine/SyncEngine.h"
#include "platform/Crypto.h"
#include "transfer/LocalStore.h"
#include "trust/FormIndex.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CFormStager {
public:
    CFormStager(CFormIndex index, CInstalledList installed)
        : m_index(std::move(index)), m_installed(std::move(installed)) {}

    // The index the accepted list names (ref), from the local store or else the servers, and
    // checked; null when it cannot be had (logged: the run goes on with the plain objects).
    // installed: what the list accepted before says of the files here.
    static std::unique_ptr<CFormStager> Load(CSyncEngine& engine, const CFormsRef& ref,
                                             const CLocalStore& local, CInstalledList installed);

    // The forms of an item in the order they are tried, and the installed content a patch
    // among them starts from (read and hashed once, for every source).
    struct CFormPlan {
        std::string strHash; // the object's
        std::vector<const CObjectForm*> order;
        // The installed content, in a buffer the calling thread keeps until its next Plan.
        std::string_view reference;
    };
    // False when the item has no form it can use.
    bool Plan(const DownFileItem& item, CFormPlan& plan) const;
    // The item staged at staged from one of the plan's forms, taken from the local store
    // (pLocal) or from the servers: true when it is there and verified.
    bool Stage(CSyncEngine& engine, CItemLane& lane, const DownFileItem& item,
               const CFormPlan& plan, const plat::Sha256Digest& expected, const std::string& staged,
               const CLocalStore* pLocal) const;

private:
    // What stays the same for every form of one item.
    struct CFormJob {
        CSyncEngine& engine;
        CItemLane& lane;
        const std::string& objectHash;
        const CLocalStore* pLocal; // the local store to take forms from, or null: the servers
        const DownFileItem& item;
        const plat::Sha256Digest& expected;
        const std::string& staged;
    };
    // Gives the decoder the form's bytes; false when they could not be read.
    using FormFeed = std::function<bool(CZstdDecoder&)>;

    // The form fetched into a staged file of its own (resumed like an object) and decoded
    // from there; empty, or why not. reference: a patch's, else empty.
    static std::string StageFromFile(const CFormJob& job, const CObjectForm& form,
                                     std::string_view reference);
    // A small form fetched into memory, checked, and decoded from there; empty, or why not.
    static std::string StageFromMemory(const CFormJob& job, const CObjectForm& form,
                                       std::string_view reference);
    // One form into its staged file from the local store or the servers; empty, or why not.
    static std::string FetchForm(const CFormJob& job, const CObjectForm& form,
                                 const std::string& formStaged);
    // One form into bytes from the local store or the servers, checked; empty, or why not.
    static std::string FetchFormBytes(const CFormJob& job, const CObjectForm& form,
                                      std::string& bytes);
    // The form's bytes, as feed gives them, decoded into the item's staged file; empty, or
    // why they were not.
    static std::string DecodeForm(const CFormJob& job, const FormFeed& feed,
                                  std::string_view reference);

    const CFormIndex m_index;
    const CInstalledList m_installed;
};
