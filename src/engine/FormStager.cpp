#include "engine/FormStager.h"

#include "apply/Apply.h"
#include "codec/Zstd.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/LargeBuffer.h"
#include "platform/Path.h"
#include "transfer/Fetch.h"
#include "transfer/MemorySink.h"
#include "transfer/ServerFailOver.h"
#include "transfer/StagingSink.h"
#include "trust/SignedList.h"
#include "updatelist/StringUtil.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The largest forms index taken.
constexpr std::int64_t kFormsIndexMax = 64 * 1024 * 1024;

// Forms up to this size (most patches) are fetched into memory and decoded from there: a
// staged file of their own cost a create, a write-back, a rename and a removal per item, more
// than their bytes. Such a form cut off is fetched again whole, not resumed.
constexpr std::int64_t kFormInMemoryMax = 64 * 1024;

// The buffer the installed content is read into, which each worker thread keeps for its next
// items (memory of its own: a fresh heap block per item cost a page fault per page, more than
// the reading). One larger than kKeptReferenceMax is let go before the next item.
constexpr std::size_t kKeptReferenceMax = std::size_t{4} << 20;
plat::CLargeBuffer& ReferenceBuffer() {
    thread_local plat::CLargeBuffer buffer;
    return buffer;
}

// The target's content, with its SHA-256 in fromHash, when forms has a patch from it and the
// target is small enough to be one's reference. The hash comes from the installed list when
// it knows the target's content; the file is then read only for a patch that starts there.
bool ReadReference(const DownFileItem& item, const std::vector<CObjectForm>& forms,
                   const CInstalledList& installed, std::string_view& reference,
                   std::string& fromHash) {
    const auto isPatch = [](const CObjectForm& form) { return form.bPatch; };
    if (std::none_of(forms.begin(), forms.end(), isPatch))
        return false;
    const bool bKnown = installed.ContentOf(item, fromHash);
    const bool bPatches =
        !bKnown || std::any_of(forms.begin(), forms.end(), [&fromHash](const CObjectForm& form) {
            return form.bPatch && form.strFrom == fromHash;
        });
    const std::int64_t nSize = plat::FileSizeOf(item.m_strTargetFile);
    const std::int64_t nTarget = AtoiValue(item.m_strFileSize);
    plat::CLargeBuffer& buffer = ReferenceBuffer();
    std::size_t nRead = 0;
    if (!bPatches || nSize <= 0 || nTarget < 0 ||
        !ZstdPatchFits(static_cast<std::uint64_t>(nSize), static_cast<std::uint64_t>(nTarget)) ||
        !buffer.Reserve(static_cast<std::size_t>(nSize)) ||
        !plat::ReadFileInto(item.m_strTargetFile, buffer.Data(), static_cast<std::size_t>(nSize),
                            nRead))
        return false;
    reference = std::string_view(buffer.Data(), nRead);
    if (!bKnown)
        fromHash = Sha256HexOf(reference);
    return true;
}

} // namespace

std::unique_ptr<CFormStager> CFormStager::Load(CSyncEngine& engine, const CFormsRef& ref,
                                               const CLocalStore& local, CInstalledList installed) {
    if (ref.strHash.empty() || ref.nSize > kFormsIndexMax)
        return nullptr;
    std::string text;
    CFormIndex index;
    std::string why;
    if (local.Usable() && local.Read(FormsIndexPath(ref.strHash), ref.nSize, text) &&
        Sha256HexOf(text) == ref.strHash && index.Parse(text, why)) {
        WriteLog(g_pMyLog, 2, "CSyncEngine::LoadForms> Forms Index %s Taken From LOCAL_STORE",
                 ref.strHash.c_str());
        return std::make_unique<CFormStager>(std::move(index), std::move(installed));
    }
    CFetchSpec spec;
    spec.strPath = engine.m_pConfig->m_strDownloadBaseUrl + "/" + FormsIndexPath(ref.strHash);
    spec.nExpected = ref.nSize;
    spec.bQuiet = true;
    CItemLane lane = engine.Lane();
    const int r = OnServers(lane.conn, spec.strPath, true, [&] {
        text.clear();
        CMemorySink sink(text, static_cast<std::size_t>(ref.nSize));
        CFetchResult result;
        return FetchBody(lane, spec, sink, result);
    });
    why = "code " + std::to_string(r);
    if (r == 0 && Sha256HexOf(text) != ref.strHash)
        why = "its SHA-256 is not the one the list names";
    else if (r == 0 && index.Parse(text, why)) {
        WriteLog(g_pMyLog, 2, "CSyncEngine::LoadForms> Forms Index %s Taken", ref.strHash.c_str());
        return std::make_unique<CFormStager>(std::move(index), std::move(installed));
    }
    WriteLog(g_pMyLog, 3, "CSyncEngine::LoadForms> Forms Index %s Not Used, %s",
             ref.strHash.c_str(), why.c_str());
    return nullptr;
}

bool CFormStager::Plan(const DownFileItem& item, CFormPlan& plan) const {
    plan.strHash = ObjectHashKey(item.m_strSha256);
    const std::vector<CObjectForm>* pForms = m_index.Of(plan.strHash);
    if (pForms == nullptr)
        return false;
    std::string fromHash;
    if (ReferenceBuffer().Capacity() > kKeptReferenceMax)
        ReferenceBuffer().Release();
    plan.reference = std::string_view();
    const bool bReference = ReadReference(item, *pForms, m_installed, plan.reference, fromHash);
    // The patch from what the target holds first, then the compressed copy.
    for (const CObjectForm& form : *pForms) {
        if (form.bPatch && bReference && form.strFrom == fromHash)
            plan.order.insert(plan.order.begin(), &form);
        else if (!form.bPatch)
            plan.order.push_back(&form);
    }
    return !plan.order.empty();
}

bool CFormStager::Stage(CSyncEngine& engine, CItemLane& lane, const DownFileItem& item,
                        const CFormPlan& plan, const plat::Sha256Digest& expected,
                        const std::string& staged, const CLocalStore* pLocal) const {
    const CFormJob job{engine, lane, plan.strHash, pLocal, item, expected, staged};
    for (const CObjectForm* form : plan.order) {
        const std::string_view reference = form->bPatch ? plan.reference : std::string_view();
        const std::string why = form->nSize <= kFormInMemoryMax
                                    ? StageFromMemory(job, *form, reference)
                                    : StageFromFile(job, *form, reference);
        if (why.empty()) {
            WriteLog(g_pMyLog, 2, "CSyncEngine::StageItem> File(%s) Staged From %s%s (%lld Bytes)",
                     item.m_strServerFile.c_str(), pLocal != nullptr ? "LOCAL_STORE " : "",
                     form->Path(plan.strHash).c_str(), static_cast<long long>(form->nSize));
            return true;
        }
        WriteLog(g_pMyLog, 3, "CSyncEngine::StageItem> Form %s%s Of File(%s) Not Used, %s",
                 pLocal != nullptr ? "LOCAL_STORE " : "", form->Path(plan.strHash).c_str(),
                 item.m_strServerFile.c_str(), why.c_str());
        if (lane.stop != 0)
            return false;
    }
    return false;
}

std::string CFormStager::FetchForm(const CFormJob& job, const CObjectForm& form,
                                   const std::string& formStaged) {
    DownFileItem formItem;
    formItem.m_strServerFile = form.Path(job.objectHash);
    formItem.m_strFileSize = std::to_string(form.nSize);
    formItem.m_strSha256 = form.strHash;
    plat::Sha256Digest formDigest{};
    if (!ParseSha256Hex(form.strHash, formDigest))
        return "the index gives no valid SHA-256";
    if (job.pLocal != nullptr)
        return job.pLocal->Stage(formItem.m_strServerFile, formItem, formDigest, formStaged);
    CFetchSpec spec;
    spec.strPath = job.engine.m_pConfig->m_strDownloadBaseUrl + "/" + formItem.m_strServerFile;
    spec.nExpected = form.nSize;
    const int r = OnServers(job.lane.conn, spec.strPath, true, [&] {
        CStagingSink sink(formItem, formStaged, formDigest);
        CFetchResult result;
        return FetchBody(job.lane, spec, sink, result);
    });
    return r == 0 ? std::string() : "download code " + std::to_string(r);
}

std::string CFormStager::StageFromFile(const CFormJob& job, const CObjectForm& form,
                                       std::string_view reference) {
    const std::string formStaged = plat::JoinPath(
        StagingFolder(job.engine.m_pConfig->m_strLocalBaseDir), form.strHash + ".form");
    std::string why = FetchForm(job, form, formStaged);
    if (why.empty())
        why = DecodeForm(
            job,
            [&formStaged](CZstdDecoder& decoder) {
                std::FILE* fp = plat::OpenFile(formStaged, "rb");
                if (fp == nullptr)
                    return false;
                std::vector<char> buf(1 << 16);
                for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), fp)) > 0 &&
                                    decoder.Write(buf.data(), n) == CZstdDecoder::kOk;) {
                }
                const bool bRead = std::ferror(fp) == 0;
                std::fclose(fp);
                return bRead;
            },
            reference);
    plat::RemoveFile(formStaged);
    return why;
}

std::string CFormStager::FetchFormBytes(const CFormJob& job, const CObjectForm& form,
                                        std::string& bytes) {
    const std::string path = form.Path(job.objectHash);
    if (job.pLocal != nullptr) {
        if (!job.pLocal->Read(path, form.nSize, bytes))
            return "the local store's file cannot be read";
    } else {
        CFetchSpec spec;
        spec.strPath = job.engine.m_pConfig->m_strDownloadBaseUrl + "/" + path;
        spec.nExpected = form.nSize;
        const int r = OnServers(job.lane.conn, spec.strPath, true, [&] {
            bytes.clear();
            CMemorySink sink(bytes, static_cast<std::size_t>(form.nSize));
            CFetchResult result;
            return FetchBody(job.lane, spec, sink, result);
        });
        if (r != 0)
            return "download code " + std::to_string(r);
    }
    if (static_cast<std::int64_t>(bytes.size()) != form.nSize || Sha256HexOf(bytes) != form.strHash)
        return "its size or SHA-256 is not the one the index gives";
    return std::string();
}

std::string CFormStager::StageFromMemory(const CFormJob& job, const CObjectForm& form,
                                         std::string_view reference) {
    std::string bytes;
    const std::string why = FetchFormBytes(job, form, bytes);
    if (!why.empty())
        return why;
    return DecodeForm(
        job,
        [&bytes](CZstdDecoder& decoder) {
            decoder.Write(bytes.data(), bytes.size());
            return true;
        },
        reference);
}

std::string CFormStager::DecodeForm(const CFormJob& job, const FormFeed& feed,
                                    std::string_view reference) {
    CStagingSink sink(job.item, job.staged, job.expected);
    int r = sink.BeginLocal();
    const auto nSize = static_cast<std::uint64_t>(AtoiValue(job.item.m_strFileSize));
    CZstdDecoder decoder([&sink](const char* p, std::size_t n) { return sink.Write(p, n); }, nSize,
                         reference);
    const bool bRead = r != 0 || feed(decoder);
    if (r == 0 && bRead)
        r = decoder.Finish();
    if (r != 0 || !bRead) {
        sink.Abandon(r);
        plat::RemoveFile(CStagingSink::PartialPath(job.staged));
        return !bRead                    ? "the fetched form cannot be read"
               : decoder.Error().empty() ? "decoded bytes not written, code " + std::to_string(r)
                                         : "decoding failed, " + decoder.Error();
    }
    r = sink.Finish(static_cast<std::int64_t>(decoder.Output()));
    return r == 0 ? std::string()
                  : "the decoded content is not the listed one, code " + std::to_string(r);
}
