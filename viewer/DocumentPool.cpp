#include "viewer/DocumentPool.h"

DocumentPool::DocumentPool(EngineFactory engines) : m_engines(std::move(engines)) {}

quint64 DocumentPool::newDocId()
{
    QMutexLocker lock(&m_mutex);
    return m_nextDocId++;
}

PdfDocumentInfo DocumentPool::open(quint64 docId, const QString &path, const QString &password, qint64 mtimeMs,
                                   Sizes sizes, const PdfFirstPage &first, QImage *firstPage)
{
    PdfDocumentInfo info;
    info.docId = docId;
    info.path = path;
    info.mtimeMs = mtimeMs;
    auto doc = std::make_unique<Document>();
    doc->engine = m_engines();
    doc->file = PageFile{path, mtimeMs};
    info.status = firstPage ? doc->engine->openWithFirstPage(path, password, first, firstPage)
                            : doc->engine->open(path, password);
    if (info.ok()) {
        if (sizes == Sizes::All)
            info.pageSizes = doc->engine->pageSizes();
        else
            info.pageSizes = QList<QSizeF>(doc->engine->pageCount(), doc->engine->pageSize(0));
        info.title = doc->engine->title();
        m_docs[docId] = std::move(doc);
        QMutexLocker lock(&m_mutex);
        m_files.insert(docId, PageFile{path, mtimeMs});
    }
    return info;
}

DocumentPool::Document *DocumentPool::find(quint64 docId)
{
    auto it = m_docs.find(docId);
    return it == m_docs.end() ? nullptr : it->second.get();
}

void DocumentPool::close(quint64 docId)
{
    auto it = m_docs.find(docId);
    if (it != m_docs.end()) {
        it->second->engine->close();
        m_docs.erase(it);
    }
    forgetFile(docId);
}

void DocumentPool::closeAll()
{
    forgetAll();
    for (auto &entry : m_docs)
        entry.second->engine->close();
    m_docs.clear();
}

void DocumentPool::failIfBroken(PdfDocumentInfo &info)
{
    Document *doc = info.ok() ? find(info.docId) : nullptr;
    if (!doc || !doc->engine->failed())
        return;
    info.status = PdfOpenStatus::Unreadable;
    info.pageSizes.clear();
    close(info.docId);
}

std::optional<PageFile> DocumentPool::fileOf(quint64 docId) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_files.constFind(docId);
    if (it == m_files.cend())
        return std::nullopt;
    return *it;
}

void DocumentPool::forgetFile(quint64 docId)
{
    QMutexLocker lock(&m_mutex);
    m_files.remove(docId);
}

void DocumentPool::forgetAll()
{
    QMutexLocker lock(&m_mutex);
    m_prepared.clear();
    m_files.clear();
}

bool DocumentPool::isPrepared(const PageFile &file) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_prepared.constFind(file.path);
    return it != m_prepared.cend() && it->mtimeMs == file.mtimeMs;
}

void DocumentPool::keepPrepared(const PdfDocumentInfo &info)
{
    quint64 replaced = 0;
    {
        QMutexLocker lock(&m_mutex);
        auto old = m_prepared.find(info.path);
        if (old != m_prepared.end()) {
            replaced = old->docId;
            m_files.remove(replaced);
            m_prepared.erase(old);
        }
        m_prepared.insert(info.path, info);
    }
    if (replaced)
        close(replaced);
}

void DocumentPool::trimPrepared(const QStringList &keep)
{
    QList<quint64> drop;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_prepared.begin(); it != m_prepared.end();) {
            if (!keep.contains(it.key())) {
                drop << it->docId;
                it = m_prepared.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (quint64 id : drop)
        close(id);
}

std::optional<PdfDocumentInfo> DocumentPool::preparedInfo(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_prepared.constFind(path);
    if (it == m_prepared.cend() || !it->ok())
        return std::nullopt;
    return *it;
}

std::optional<PdfDocumentInfo> DocumentPool::takePrepared(const QString &path, quint64 docId)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_prepared.find(path);
    if (it == m_prepared.end() || it->docId != docId)
        return std::nullopt;
    PdfDocumentInfo info = *it;
    m_prepared.erase(it);
    return info;
}

std::optional<PdfDocumentInfo> DocumentPool::adoptPrepared(const PageFile &file, quint64 docId)
{
    PdfDocumentInfo info;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_prepared.find(file.path);
        if (it == m_prepared.end() || !it->ok() || it->mtimeMs != file.mtimeMs)
            return std::nullopt;
        info = *it;
        m_prepared.erase(it);
        m_files.remove(info.docId);
        m_files.insert(docId, PageFile{info.path, info.mtimeMs});
    }
    // The prepared engine now serves the new id.
    auto node = m_docs.extract(info.docId);
    info.docId = docId;
    if (!node.empty()) {
        node.key() = docId;
        m_docs.insert(std::move(node));
    }
    return info;
}
