#pragma once

#include "viewer/PageKey.h"
#include "viewer/PdfEngine.h"
#include "viewer/PdfTypes.h"

#include <QHash>
#include <QMutex>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

// The documents the render service holds open, each with an engine of its
// own: those opened for the view (by document id) and those prepared in the
// background (also by path, until the view adopts one or they are trimmed).
//
// Threading: the engines are used on the render worker only (open, find,
// close...).  The file table behind the cache keys and the table of prepared
// documents are guarded by the pool's own lock and may be read and changed
// from any thread.  A caller may hold a lock of its own around a call, the
// pool never calls out while it holds its lock.
class DocumentPool
{
public:
    using EngineFactory = std::function<std::unique_ptr<PdfEngine>()>;

    struct Document
    {
        std::unique_ptr<PdfEngine> engine;
        PageFile file;
        QList<QSizeF> sizes; // measured so far, in page order
        bool failureReported = false;
    };
    // Which page sizes an opening measures: with FirstOnly, page 0's size
    // stands in for the others in the answer.
    enum class Sizes { FirstOnly, All };

    explicit DocumentPool(EngineFactory engines);

    // A new document id (never 0); any thread.
    quint64 newDocId();

    // Worker: opens `path` under `docId` with a new engine; mtimeMs is the
    // file's modification time, read by the caller before.  With firstPage,
    // the engine draws page 0 as `first` asks while it opens the file.
    PdfDocumentInfo open(quint64 docId, const QString &path, const QString &password, qint64 mtimeMs, Sizes sizes,
                         const PdfFirstPage &first = {}, QImage *firstPage = nullptr);
    // Worker: the open document, null when there is none (closed, or failed).
    Document *find(quint64 docId);
    // Worker: lets go of the document's file and forgets it.
    void close(quint64 docId);
    // Worker: every document, prepared ones included.
    void closeAll();
    // Worker: a document that took its engine down cannot be shown; it is
    // closed and its answer turned into Unreadable.
    void failIfBroken(PdfDocumentInfo &info);
    // Worker: drops every engine without closing it (the worker's end).
    void clearEngines() { m_docs.clear(); }

    // The file a document was opened from; none once it is closed.
    std::optional<PageFile> fileOf(quint64 docId) const;
    // Stops answering fileOf() for the document at once (a close is on its way).
    void forgetFile(quint64 docId);
    // Forgets every file and prepared document at once (closeAll() is on its way).
    void forgetAll();

    // Whether `file` is prepared as it is now (same modification time).
    bool isPrepared(const PageFile &file) const;
    // Worker: keeps a document just opened as the prepared one of its path;
    // the one prepared before for that path is closed.
    void keepPrepared(const PdfDocumentInfo &info);
    // Worker: closes the prepared documents whose paths are not in `keep`.
    void trimPrepared(const QStringList &keep);
    // The prepared document of `path` that opened fine, left in place.
    std::optional<PdfDocumentInfo> preparedInfo(const QString &path) const;
    // Takes the prepared document of `path` out of the prepared table when
    // it is still the one `docId` names: the caller adopts it as it is.
    std::optional<PdfDocumentInfo> takePrepared(const QString &path, quint64 docId);
    // Worker: the prepared document of `file` (same modification time) goes
    // over to `docId`; none when there is no such document.
    std::optional<PdfDocumentInfo> adoptPrepared(const PageFile &file, quint64 docId);

private:
    EngineFactory m_engines;

    mutable QMutex m_mutex;
    quint64 m_nextDocId = 1;
    QHash<QString, PdfDocumentInfo> m_prepared; // path -> prepared document
    QHash<quint64, PageFile> m_files;           // docId -> file, for cache keys

    // Worker-thread state.
    std::unordered_map<quint64, std::unique_ptr<Document>> m_docs;
};
