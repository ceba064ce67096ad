#include "viewer/PdfEngine.h"

#include <QAbstractListModel>
#include <QFile>
#include <QFileInfo>
#include <QPdfBookmarkModel>
#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QPdfSelection>

#include <cmath>
#include <functional>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <unistd.h>

// QtPdf 6.4 keeps its link model out of the public headers although the
// library exports it; only its constructor is needed here, everything else
// goes through the public QAbstractItemModel and property interfaces.
class QPdfLinkModel : public QAbstractListModel
{
public:
    explicit QPdfLinkModel(QObject *parent = nullptr);
    ~QPdfLinkModel() override;
    QVariant data(const QModelIndex &index, int role) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QHash<int, QByteArray> roleNames() const override;
};

namespace {

// One pixel of straight-alpha ink on white paper: 255 - (255 - channel) * a / 255.
inline quint32 overWhite(quint32 c)
{
    const quint32 a = c >> 24;
    if (a == 255)
        return c;
    if (a == 0)
        return 0xffffffffu;
    const auto mix = [a](quint32 ch) { return 255 - ((255 - ch) * a + 127) / 255; };
    return 0xff000000u | (mix((c >> 16) & 0xff) << 16) | (mix((c >> 8) & 0xff) << 8) | mix(c & 0xff);
}

// Writes an ARGB32 page of ink onto white paper as opaque RGB32 pixels into
// `out` (which may be the page's own memory).  Most pixels are bare paper or
// solid ink: four at a time go through whole when they all are.
void putOnWhitePaper(const QImage &ink, uchar *out, qsizetype bytesPerLine)
{
    const int w = ink.width();
    for (int y = 0; y < ink.height(); ++y) {
        const auto *in = reinterpret_cast<const quint32 *>(ink.constScanLine(y));
        auto *line = reinterpret_cast<quint32 *>(out + y * bytesPerLine);
        int x = 0;
#ifdef __SSE2__
        const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
        const __m128i paper = _mm_set1_epi32(-1);
        for (; x + 4 <= w; x += 4) {
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + x));
            const __m128i a = _mm_and_si128(c, alpha);
            auto *dst = reinterpret_cast<__m128i *>(line + x);
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, alpha)) == 0xffff) {
                _mm_storeu_si128(dst, c);
            } else if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, _mm_setzero_si128())) == 0xffff) {
                _mm_storeu_si128(dst, paper);
            } else {
                for (int i = 0; i < 4; ++i)
                    line[x + i] = overWhite(in[x + i]);
            }
        }
#endif
        for (; x < w; ++x)
            line[x] = overWhite(in[x]);
    }
}

// The ink of a page (of `size`) on white paper, straight into the target
// memory: paper and copy in one pass.  False when the ink is not that size or
// there is no memory to draw into.
bool paperInto(const QImage &ink, const QSize &size, const PdfEngine::PageTarget &target, qsizetype bytesPerLine)
{
    if (ink.size() != size)
        return false;
    uchar *out = target();
    if (!out)
        return false;
    putOnWhitePaper(ink, out, bytesPerLine);
    return true;
}

class QtPdfEngine final : public PdfEngine
{
public:
    ~QtPdfEngine() override { close(); }

    PdfOpenStatus open(const QString &path, const QString &password) override
    {
        close();
        const QFileInfo fi(path);
        if (!fi.exists())
            return PdfOpenStatus::NotFound;
        if (!fi.isFile() || !fi.isReadable())
            return PdfOpenStatus::Unreadable;
        m_doc = std::make_unique<QPdfDocument>();
        m_doc->setPassword(password);
        return finishOpen(m_doc->load(path), password);
    }

    PdfOpenStatus openDescriptor(int fd, const QString &password) override
    {
        close();
        m_device = std::make_unique<QFile>();
        if (!m_device->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) || m_device->isSequential()) {
            m_device.reset();
            ::close(fd);
            return PdfOpenStatus::Unreadable;
        }
        m_doc = std::make_unique<QPdfDocument>();
        m_doc->setPassword(password);
        // A random-access device loads at once, as a path does.
        m_doc->load(m_device.get());
        return finishOpen(m_doc->error(), password);
    }

    PdfOpenStatus finishOpen(QPdfDocument::Error err, const QString &password)
    {
        switch (err) {
        case QPdfDocument::Error::None:
            break;
        case QPdfDocument::Error::IncorrectPassword:
            close();
            return password.isEmpty() ? PdfOpenStatus::NeedsPassword : PdfOpenStatus::WrongPassword;
        case QPdfDocument::Error::FileNotFound:
            close();
            return PdfOpenStatus::Unreadable;
        case QPdfDocument::Error::InvalidFileFormat:
            close();
            return PdfOpenStatus::InvalidFormat;
        case QPdfDocument::Error::UnsupportedSecurityScheme:
            close();
            return PdfOpenStatus::Unsupported;
        default:
            close();
            return PdfOpenStatus::Unreadable;
        }
        const int n = m_doc->pageCount();
        if (n <= 0) {
            close();
            return PdfOpenStatus::NoPages;
        }
        // Pages are measured when first asked for: pdfium parses a page to
        // tell its size, which a long document would pay for up front.
        m_sizes = QList<QSizeF>(n);
        return PdfOpenStatus::Ok;
    }

    void close() override
    {
        m_links.reset();
        if (m_doc) {
            m_doc->close();
            m_doc.reset();
        }
        m_device.reset();
        m_sizes.clear();
    }

    QList<QSizeF> pageSizes() const override
    {
        for (int i = 0; i < m_sizes.size(); ++i)
            pageSize(i);
        return m_sizes;
    }

    int pageCount() const override { return int(m_sizes.size()); }

    QSizeF pageSize(int page) const override
    {
        if (page < 0 || page >= m_sizes.size())
            return {};
        QSizeF &s = m_sizes[page];
        if (s.isValid())
            return s;
        s = usablePageSize(m_doc->pagePointSize(page));
        return s;
    }

    QString title() const override
    {
        return m_doc ? m_doc->metaData(QPdfDocument::MetaDataField::Title).toString() : QString();
    }

    QImage render(int page, const QSize &pixelSize, int rotation) override
    {
        QImage img = renderInk(page, pixelSize, rotation);
        if (img.isNull())
            return img;
        // The paper goes under the ink in place, and the view then paints an
        // opaque image, a plain copy.
        putOnWhitePaper(img, img.bits(), img.bytesPerLine());
        img.reinterpretAsFormat(QImage::Format_RGB32);
        return img;
    }

    bool renderInto(int page, const QSize &pixelSize, int rotation, const PageTarget &target,
                    qsizetype bytesPerLine) override
    {
        return paperInto(renderInk(page, pixelSize, rotation), pixelSize, target, bytesPerLine);
    }

    QImage renderBand(int page, const QSize &pixelSize, int top, int rows) override
    {
        QImage img = renderBandInk(page, pixelSize, top, rows);
        if (img.isNull())
            return img;
        putOnWhitePaper(img, img.bits(), img.bytesPerLine());
        img.reinterpretAsFormat(QImage::Format_RGB32);
        return img;
    }

    bool renderBandInto(int page, const QSize &pixelSize, int top, int rows, const PageTarget &target,
                        qsizetype bytesPerLine) override
    {
        return paperInto(renderBandInk(page, pixelSize, top, rows), QSize(pixelSize.width(), rows), target,
                         bytesPerLine);
    }

    QList<PdfOutlineEntry> outline() override
    {
        QList<PdfOutlineEntry> out;
        if (!m_doc)
            return out;
        QPdfBookmarkModel model;
        model.setDocument(m_doc.get());
        std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
            const int rows = model.rowCount(parent);
            for (int r = 0; r < rows && out.size() < 20000; ++r) {
                const QModelIndex idx = model.index(r, 0, parent);
                PdfOutlineEntry e;
                e.title = idx.data(int(QPdfBookmarkModel::Role::Title)).toString();
                e.level = idx.data(int(QPdfBookmarkModel::Role::Level)).toInt();
                e.page = idx.data(int(QPdfBookmarkModel::Role::Page)).toInt();
                e.location = idx.data(int(QPdfBookmarkModel::Role::Location)).toPointF();
                if (e.page >= m_sizes.size())
                    e.page = -1;
                out << e;
                walk(idx);
            }
        };
        walk(QModelIndex());
        return out;
    }

    QList<PdfLinkInfo> links(int page) override
    {
        QList<PdfLinkInfo> out;
        if (!m_doc || page < 0 || page >= m_sizes.size())
            return out;
        if (!m_links) {
            m_links = std::make_unique<QPdfLinkModel>();
            m_links->setProperty("document", QVariant::fromValue(m_doc.get()));
            const auto names = m_links->roleNames();
            for (auto it = names.begin(); it != names.end(); ++it) {
                if (it.value() == "rectangle") m_rectRole = it.key();
                else if (it.value() == "page") m_pageRole = it.key();
                else if (it.value() == "location") m_locationRole = it.key();
                else if (it.value() == "url") m_urlRole = it.key();
            }
        }
        if (m_rectRole < 0)
            return out;
        m_links->setProperty("page", page);
        const int rows = m_links->rowCount();
        for (int r = 0; r < rows; ++r) {
            const QModelIndex idx = m_links->index(r, 0);
            PdfLinkInfo l;
            l.rect = idx.data(m_rectRole).toRectF();
            l.page = m_pageRole >= 0 ? idx.data(m_pageRole).toInt() : -1;
            l.location = m_locationRole >= 0 ? idx.data(m_locationRole).toPointF() : QPointF();
            l.url = m_urlRole >= 0 ? idx.data(m_urlRole).toUrl() : QUrl();
            if (l.page >= m_sizes.size())
                l.page = -1;
            if (l.rect.isValid() && (l.page >= 0 || l.url.isValid()))
                out << l;
        }
        return out;
    }

    QList<PdfSearchHit> search(const QString &text) override
    {
        QList<PdfSearchHit> out;
        if (!m_doc || text.isEmpty())
            return out;
        for (int page = 0; page < m_sizes.size(); ++page) {
            const QString all = m_doc->getAllText(page).text();
            qsizetype from = 0;
            while ((from = all.indexOf(text, from, Qt::CaseInsensitive)) >= 0) {
                const QPdfSelection sel = m_doc->getSelectionAtIndex(page, int(from), int(text.size()));
                PdfSearchHit hit;
                hit.page = page;
                for (const QPolygonF &poly : sel.bounds())
                    hit.rects << poly.boundingRect();
                if (!hit.rects.isEmpty())
                    out << hit;
                from += text.size();
            }
        }
        return out;
    }

    QString selectText(int page, const QPointF &from, const QPointF &to, QList<QPolygonF> *bounds) override
    {
        if (!m_doc || page < 0 || page >= m_sizes.size())
            return {};
        const QPdfSelection sel = m_doc->getSelection(page, from, to);
        if (bounds)
            *bounds = sel.bounds();
        return sel.text();
    }

private:
    // The page as pdfium draws it: ink on transparent paper, straight alpha.
    QImage renderInk(int page, const QSize &pixelSize, int rotation)
    {
        if (!m_doc || page < 0 || page >= m_sizes.size() || pixelSize.isEmpty())
            return {};
        QPdfDocumentRenderOptions options;
        options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
        options.setRotation(static_cast<QPdfDocumentRenderOptions::Rotation>(rotation & 3));
        QImage img = m_doc->render(page, pixelSize, options);
        if (!img.isNull() && img.format() != QImage::Format_ARGB32)
            img.convertTo(QImage::Format_ARGB32);
        return img;
    }

    // A band of the page drawn as renderInk() draws the whole, through
    // QtPdf's clip path.  That path maps the page with pdfium's display
    // matrix for the page's size cut to whole points, then scales by
    // scaledSize / the page's size and by (clip width - 1) / image width:
    // the sizes below undo both, so that the band's pixels are the whole
    // page's rows top ... top + rows - 1.
    QImage renderBandInk(int page, const QSize &pixelSize, int top, int rows)
    {
        if (!m_doc || page < 0 || page >= m_sizes.size() || pixelSize.isEmpty() || top < 0 || rows <= 0
            || top + rows > pixelSize.height())
            return {};
        const QSizeF pt = m_doc->pagePointSize(page);
        const qreal wholeW = std::floor(pt.width()), wholeH = std::floor(pt.height());
        if (wholeW < 1 || wholeH < 1)
            return {};
        QPdfDocumentRenderOptions options;
        options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
        options.setScaledSize(QSize(qRound(pixelSize.width() * pt.width() / wholeW),
                                    qRound(pixelSize.height() * pt.height() / wholeH)));
        options.setScaledClipRect(QRect(0, top, pixelSize.width() + 1, rows + 1));
        QImage img = m_doc->render(page, QSize(pixelSize.width(), rows), options);
        if (!img.isNull() && img.format() != QImage::Format_ARGB32)
            img.convertTo(QImage::Format_ARGB32);
        return img;
    }

    std::unique_ptr<QFile> m_device; // what the document reads when opened from a descriptor
    std::unique_ptr<QPdfDocument> m_doc;
    std::unique_ptr<QPdfLinkModel> m_links;
    int m_rectRole = -1, m_pageRole = -1, m_locationRole = -1, m_urlRole = -1;
    mutable QList<QSizeF> m_sizes; // invalid until measured
};

} // namespace

std::shared_ptr<void> holdQtPdfLibrary()
{
    return std::make_shared<QPdfDocument>();
}

std::unique_ptr<PdfEngine> createQtPdfEngine()
{
    return std::make_unique<QtPdfEngine>();
}
