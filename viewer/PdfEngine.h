#pragma once

#include "viewer/PageLayout.h"
#include "viewer/PdfTypes.h"

#include <QImage>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>

// How the first page of a document is drawn straight after it opens: where
// the view's layout puts it, at a device pixel ratio.  Plain values, so that
// an engine in another process can work the size out itself.
struct PdfFirstPage
{
    std::optional<PageLayout::Params> layout; // none: nothing is drawn ahead
    qreal dpr = 1.0;

    bool wanted() const { return layout.has_value(); }
    // Device pixels of page 0 laid out over these page sizes; empty when
    // nothing is wanted.
    QSize pixelsFor(const QList<QSizeF> &pageSizesPt) const;
    // The same for a document just opened, whose other pages are taken to be
    // as large as the first until they are measured.
    QSize pixelsForOpened(int pageCount, const QSizeF &firstPagePt) const
    {
        return pixelsFor(QList<QSizeF>(pageCount, firstPagePt));
    }
    int rotation() const { return layout ? layout->rotation & 3 : 0; }
};

// One open document behind a narrow, synchronous contract: open, page sizes,
// outline, render a page at a pixel size.  Text features are optional and
// default to "unsupported" (empty answers).  An engine is used by one thread
// at a time; PdfRenderService keeps all of them on its worker thread.
class PdfEngine
{
public:
    virtual ~PdfEngine() = default;

    virtual PdfOpenStatus open(const QString &path, const QString &password) = 0;
    // Opens the document and, when `first` wants it, draws page 0 into
    // *firstPage at pixelsForOpened() (null when it could not be drawn).  An
    // engine in another process does both in one exchange.
    virtual PdfOpenStatus openWithFirstPage(const QString &path, const QString &password, const PdfFirstPage &first,
                                            QImage *firstPage)
    {
        const PdfOpenStatus status = open(path, password);
        if (status == PdfOpenStatus::Ok && first.wanted())
            *firstPage = render(0, first.pixelsForOpened(pageCount(), pageSize(0)), first.rotation());
        return status;
    }
    // Opens a document from a descriptor already open for reading, for an
    // engine that never opens paths itself.  The engine takes the descriptor
    // over, also when the open fails; one that cannot read descriptors
    // answers Unsupported and leaves it to the caller.
    virtual PdfOpenStatus openDescriptor(int fd, const QString &password)
    {
        Q_UNUSED(fd); Q_UNUSED(password);
        return PdfOpenStatus::Unsupported;
    }
    // True once the engine can no longer serve its document because the
    // document took the engine down; every answer is empty from then on.
    virtual bool failed() const { return false; }
    // Lets go of the file; after this no descriptor of it stays open.
    virtual void close() = 0;
    // Every page's size in points (unrotated).
    virtual QList<QSizeF> pageSizes() const = 0;
    // The page count and one page's size: an engine that has to measure each
    // page on its own answers these without measuring the others.
    virtual int pageCount() const { return int(pageSizes().size()); }
    virtual QSizeF pageSize(int page) const { return pageSizes().value(page); }
    virtual QString title() const { return {}; }
    // An opaque page (RGB32) of exactly pixelSize, or a null image.
    virtual QImage render(int page, const QSize &pixelSize, int rotation) = 0;
    // The memory a page this engine drew holds: its pixels, or the whole of
    // a larger buffer it was drawn into (what a cache has to count).
    virtual qint64 memoryOf(const QImage &page) const { return page.sizeInBytes(); }
    // Where renderInto() puts a page: asked for once, only when the page is
    // drawn and about to be copied, so that the memory can be made ready
    // meanwhile; null when there is nowhere to put it.
    using PageTarget = std::function<uchar *()>;
    // Draws the page as render() does, straight into memory of pixelSize
    // RGB32 pixels whose rows lie bytesPerLine apart (the render helper's
    // shared memory); false when nothing was drawn.
    virtual bool renderInto(int page, const QSize &pixelSize, int rotation, const PageTarget &target,
                            qsizetype bytesPerLine)
    {
        return copyInto(render(page, pixelSize, rotation), pixelSize, target, bytesPerLine);
    }

    // Rows top ... top + rows - 1 of the page as render(page, pixelSize, 0)
    // draws it: an opaque band (RGB32) of pixelSize.width() x rows, or a null
    // image.  For pages too large to draw whole (printing); pixelSize may be
    // larger than any page render() draws.  This fallback draws the whole
    // page; an engine that can clip draws the band alone.
    virtual QImage renderBand(int page, const QSize &pixelSize, int top, int rows)
    {
        if (top < 0 || rows <= 0 || top + rows > pixelSize.height())
            return {};
        const QImage whole = render(page, pixelSize, 0);
        return whole.size() == pixelSize ? whole.copy(0, top, pixelSize.width(), rows) : QImage();
    }
    // The band as renderBand() draws it, straight into memory of
    // pixelSize.width() x rows pixels laid out as renderInto() has them.
    virtual bool renderBandInto(int page, const QSize &pixelSize, int top, int rows, const PageTarget &target,
                                qsizetype bytesPerLine)
    {
        return copyInto(renderBand(page, pixelSize, top, rows), QSize(pixelSize.width(), rows), target, bytesPerLine);
    }

    virtual QList<PdfOutlineEntry> outline() { return {}; }
    virtual QList<PdfLinkInfo> links(int page) { Q_UNUSED(page); return {}; }
    virtual QList<PdfSearchHit> search(const QString &text) { Q_UNUSED(text); return {}; }
    // Text between two points of a page (points), with its outline polygons.
    virtual QString selectText(int page, const QPointF &from, const QPointF &to, QList<QPolygonF> *bounds)
    {
        Q_UNUSED(page); Q_UNUSED(from); Q_UNUSED(to); Q_UNUSED(bounds);
        return {};
    }

protected:
    // Copies `img` (RGB32 of `size`) into the target memory; false when the
    // image is not that or there is no memory to draw into.
    static bool copyInto(const QImage &img, const QSize &size, const PageTarget &target, qsizetype bytesPerLine)
    {
        if (img.size() != size || img.format() != QImage::Format_RGB32)
            return false;
        uchar *out = target();
        if (!out)
            return false;
        for (int y = 0; y < img.height(); ++y)
            std::memcpy(out + y * bytesPerLine, img.constScanLine(y), size_t(img.width()) * 4);
        return true;
    }
};

// A page size as every engine gives it: a page without a usable size (none,
// NaN, or larger than any paper) still gets a place on screen, a Letter page's.
inline QSizeF usablePageSize(const QSizeF &s)
{
    const auto ok = [](qreal v) { return v > 0.5 && v < 1e6; }; // false for NaN too
    return ok(s.width()) && ok(s.height()) ? s : QSizeF(612, 792);
}

inline QSize PdfFirstPage::pixelsFor(const QList<QSizeF> &pageSizesPt) const
{
    if (!layout || pageSizesPt.isEmpty())
        return {};
    const QSize logical = PageLayout::compute(pageSizesPt, *layout).rects.value(0).size();
    return logical.isEmpty() ? QSize() : PageLayout::pixelSize(logical, dpr);
}

// The pdfium engine through QtPdf.
std::unique_ptr<PdfEngine> createQtPdfEngine();

// While held, keeps pdfium initialised.  QtPdf tears the library down when
// its last document goes and sets it up again for the next one, a cost that
// every document switch would otherwise pay.
std::shared_ptr<void> holdQtPdfLibrary();
