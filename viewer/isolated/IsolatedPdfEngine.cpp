#include "viewer/isolated/IsolatedPdfEngine.h"

#include "viewer/isolated/RenderHelper.h"
#include "viewer/isolated/RenderProtocol.h"

#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QSize>
#include <QFileInfo>
#include <QLoggingCategory>

#include <atomic>
#include <mutex>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using RenderProtocol::Op;

Q_LOGGING_CATEGORY(lcEngine, "sheafline.render")

std::atomic<PdfEngineChoice> g_choice{PdfEngineChoice::Isolated};

// Reads an answer past its leading "done" byte.
struct Answer
{
    explicit Answer(const QByteArray &answer) : s(answer)
    {
        s.setVersion(RenderProtocol::streamVersion);
        quint8 done = 0;
        s >> done;
    }
    QDataStream s;
};

void releaseMapping(void *info)
{
    auto *m = static_cast<std::pair<void *, size_t> *>(info);
    munmap(m->first, m->second);
    delete m;
}

class IsolatedPdfEngine final : public PdfEngine
{
public:
    ~IsolatedPdfEngine() override { close(); }

    PdfOpenStatus open(const QString &path, const QString &password) override
    {
        close();
        const QFileInfo fi(path);
        if (!fi.exists())
            return PdfOpenStatus::NotFound;
        if (!fi.isFile())
            return PdfOpenStatus::Unreadable;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return PdfOpenStatus::Unreadable;
        return openDescriptor(fd, password);
    }

    PdfOpenStatus openDescriptor(int fd, const QString &password) override
    {
        close();
        m_fd = fd;
        m_password = password;
        m_failed = false;
        QMutexLocker lock(&RenderHelper::instance().mutex());
        PdfOpenStatus status = PdfOpenStatus::Unreadable;
        if (!RenderHelper::instance().ensureRunning() || !openInHelper(&status) || status != PdfOpenStatus::Ok) {
            lock.unlock();
            close();
        }
        return status;
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        RenderHelper &helper = RenderHelper::instance();
        {
            QMutexLocker lock(&helper.mutex());
            if (m_open && !m_failed && helper.generation() == m_generation)
                helper.post(RenderProtocol::write(quint8(Op::Close), m_handle));
        }
        ::close(m_fd);
        m_fd = -1;
        m_open = false;
        m_sizes.clear();
        m_title.clear();
        m_password.clear();
    }

    bool failed() const override { return m_failed; }
    QList<QSizeF> pageSizes() const override { return m_sizes; }
    QString title() const override { return m_title; }

    QImage render(int page, const QSize &pixelSize, int rotation) override
    {
        if (page < 0 || page >= m_sizes.size() || pixelSize.isEmpty())
            return {};
        const qint64 bytes = qint64(pixelSize.width()) * pixelSize.height() * 4;
        if (bytes > RenderProtocol::maxPageBytes)
            return {};
        const int memfd = memfd_create("sheafline-page", MFD_CLOEXEC);
        if (memfd < 0)
            return {};
        void *map = MAP_FAILED;
        if (ftruncate(memfd, bytes) == 0)
            map = mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, memfd, 0);
        QByteArray answer;
        const bool ok = map != MAP_FAILED
                        && request(Op::Render, RenderProtocol::write(qint32(page), pixelSize, qint32(rotation)),
                                   {memfd}, &answer);
        ::close(memfd);
        QSize drawn;
        if (ok) {
            Answer a(answer);
            a.s >> drawn;
        }
        if (!ok || drawn != pixelSize) {
            if (map != MAP_FAILED)
                munmap(map, size_t(bytes));
            return {};
        }
        // The page stays where the helper drew it; the image lets go of the
        // mapping when its last copy goes.
        return QImage(static_cast<uchar *>(map), drawn.width(), drawn.height(), drawn.width() * 4,
                      QImage::Format_RGB32, releaseMapping, new std::pair<void *, size_t>(map, size_t(bytes)));
    }

    QList<PdfOutlineEntry> outline() override
    {
        QList<PdfOutlineEntry> out;
        QByteArray answer;
        if (!request(Op::Outline, {}, {}, &answer))
            return out;
        Answer a(answer);
        QDataStream &s = a.s;
        qint32 n = 0;
        s >> n;
        for (qint32 i = 0; i < n && s.status() == QDataStream::Ok; ++i) {
            PdfOutlineEntry e;
            qint32 level = 0, page = -1;
            s >> e.title >> level >> page >> e.location;
            e.level = level;
            e.page = page;
            out << e;
        }
        return out;
    }

    QList<PdfLinkInfo> links(int page) override
    {
        QList<PdfLinkInfo> out;
        QByteArray answer;
        if (!request(Op::Links, RenderProtocol::write(qint32(page)), {}, &answer))
            return out;
        Answer a(answer);
        QDataStream &s = a.s;
        qint32 n = 0;
        s >> n;
        for (qint32 i = 0; i < n && s.status() == QDataStream::Ok; ++i) {
            PdfLinkInfo l;
            qint32 target = -1;
            s >> l.rect >> target >> l.location >> l.url;
            l.page = target;
            out << l;
        }
        return out;
    }

    QList<PdfSearchHit> search(const QString &text) override
    {
        QList<PdfSearchHit> out;
        QByteArray answer;
        if (!request(Op::Search, RenderProtocol::write(text), {}, &answer))
            return out;
        Answer a(answer);
        QDataStream &s = a.s;
        qint32 n = 0;
        s >> n;
        for (qint32 i = 0; i < n && s.status() == QDataStream::Ok; ++i) {
            PdfSearchHit h;
            qint32 page = 0;
            s >> page >> h.rects;
            h.page = page;
            out << h;
        }
        return out;
    }

    QString selectText(int page, const QPointF &from, const QPointF &to, QList<QPolygonF> *bounds) override
    {
        QByteArray answer;
        if (!request(Op::Selection, RenderProtocol::write(qint32(page), from, to), {}, &answer))
            return {};
        Answer a(answer);
        QDataStream &s = a.s;
        QString text;
        QList<QPolygonF> polys;
        s >> text >> polys;
        if (bounds)
            *bounds = polys;
        return text;
    }

private:
    // Opens the document in the running helper (the caller holds its lock).
    bool openInHelper(PdfOpenStatus *status)
    {
        RenderHelper &helper = RenderHelper::instance();
        m_handle = helper.nextHandle();
        m_generation = helper.generation();
        QByteArray answer;
        if (!helper.call(RenderProtocol::write(quint8(Op::Open), m_handle, m_password), {m_fd}, &answer)) {
            // The document took the helper down.
            m_failed = true;
            *status = PdfOpenStatus::Unreadable;
            return false;
        }
        Answer a(answer);
        QDataStream &s = a.s;
        qint32 st = qint32(PdfOpenStatus::Unreadable);
        QList<QSizeF> sizes;
        QString title;
        s >> st >> sizes >> title;
        *status = s.status() == QDataStream::Ok ? PdfOpenStatus(st) : PdfOpenStatus::Unreadable;
        if (*status != PdfOpenStatus::Ok)
            return false;
        m_open = true;
        if (m_sizes.isEmpty()) {
            m_sizes = sizes;
            m_title = title;
        }
        return true;
    }

    // One request about the open document; false with an empty answer.
    bool request(Op op, const QByteArray &arguments, const std::vector<int> &fds, QByteArray *answer)
    {
        if (!m_open || m_failed)
            return false;
        RenderHelper &helper = RenderHelper::instance();
        QMutexLocker lock(&helper.mutex());
        if (!helper.ensureRunning())
            return false;
        if (helper.generation() != m_generation) {
            // Another document took the last helper down: open this one again.
            PdfOpenStatus status;
            if (!openInHelper(&status)) {
                m_failed = true;
                return false;
            }
        }
        // The handle is the one of the helper that serves the request.
        if (!helper.call(RenderProtocol::write(quint8(op), m_handle) + arguments, fds, answer)) {
            m_failed = true;
            return false;
        }
        return !answer->isEmpty() && answer->at(0) == 1;
    }

    int m_fd = -1;
    QString m_password;
    bool m_open = false;
    bool m_failed = false;
    quint32 m_handle = 0;
    quint64 m_generation = 0;
    QList<QSizeF> m_sizes;
    QString m_title;
};

} // namespace

std::unique_ptr<PdfEngine> createIsolatedPdfEngine()
{
    return std::make_unique<IsolatedPdfEngine>();
}

void setPdfEngineChoice(PdfEngineChoice choice)
{
    g_choice = choice;
}

PdfEngineChoice pdfEngineChoice()
{
    return g_choice;
}

std::unique_ptr<PdfEngine> createPdfEngine()
{
    if (g_choice == PdfEngineChoice::Isolated) {
        static const bool present = !RenderHelper::helperPath().isEmpty();
        if (present)
            return createIsolatedPdfEngine();
        static std::once_flag said;
        std::call_once(said, [] { qCWarning(lcEngine, "sheafline-render is missing: documents are drawn in-process"); });
    }
    return createQtPdfEngine();
}
