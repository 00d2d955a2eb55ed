#include "publish/ObjectPipeline.h"

CObjectPipeline::CObjectPipeline(CObjectCopier& copier, bool bCopy)
    : m_copier(copier), m_bCopy(bCopy), m_thread([this] { Work(); }) {}

CObjectPipeline::~CObjectPipeline() {
    std::string why;
    Finish(why);
}

void CObjectPipeline::Offer(const CTreeFile& file) {
    // Looked for here: a wake-up of the copying thread per file would cost more than the look.
    if (!m_offered.insert(file.strHash).second || m_copier.Has(file))
        return;
    m_vecNew.push_back(&file);
    m_nNewBytes += file.nSize;
    if (!m_bCopy)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(&file);
    }
    m_ready.notify_one();
}

bool CObjectPipeline::Finish(std::string& why) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_bClosed = true;
    }
    m_ready.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    why = m_strWhy;
    return m_strWhy.empty();
}

void CObjectPipeline::Work() {
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return m_bClosed || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        const CTreeFile* file = m_queue.front();
        m_queue.pop_front();
        const bool bFailed = !m_strWhy.empty();
        lock.unlock();
        std::string why;
        if (!bFailed && !m_copier.Copy(*file, why)) {
            lock.lock();
            m_strWhy = why;
        }
    }
}
