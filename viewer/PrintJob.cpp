#include "viewer/PrintJob.h"

#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>

PrintPlacement PrintPlacement::compute(const QSizeF &pagePt, const QSizeF &area, qreal deviceDpi, qreal maxDpi)
{
    PrintPlacement p;
    const QSizeF page = usablePageSize(pagePt);
    if (area.isEmpty() || deviceDpi <= 0)
        return p;
    const bool pageWide = page.width() > page.height();
    const bool paperWide = area.width() > area.height();
    // A square page or paper has no orientation to match.
    p.turned = page.width() != page.height() && area.width() != area.height() && pageWide != paperWide;
    const QSizeF lying = p.turned ? page.transposed() : page;
    const qreal scale = qMin(area.width() / lying.width(), area.height() / lying.height());
    const QSizeF fitted = lying * scale;
    p.target = QRectF(QPointF((area.width() - fitted.width()) / 2, (area.height() - fitted.height()) / 2), fitted);
    // Above maxDpi the device scales the pixels up; below, they are its own.
    const qreal k = qMin<qreal>(1.0, maxDpi / deviceDpi);
    const QSizeF upright = p.turned ? fitted.transposed() : fitted;
    p.pixels = QSize(qMax(1, int(std::lround(upright.width() * k))), qMax(1, int(std::lround(upright.height() * k))));
    return p;
}

int printBandRows(const QSize &pixels, qint64 budgetBytes)
{
    const qint64 row = qMax<qint64>(1, qint64(pixels.width()) * 4);
    return int(qBound<qint64>(1, budgetBytes / row, qint64(qMax(1, pixels.height()))));
}

QList<int> printPageSequence(int first, int last, int copies, bool collate, bool lastFirst)
{
    QList<int> run;
    for (int p = first; p <= last; ++p)
        run << p;
    if (lastFirst)
        std::reverse(run.begin(), run.end());
    copies = qMax(1, copies);
    QList<int> out;
    if (collate) {
        for (int c = 0; c < copies; ++c)
            out << run;
    } else {
        for (int p : std::as_const(run))
            for (int c = 0; c < copies; ++c)
                out << p;
    }
    return out;
}

PrintJob::PrintJob(std::function<std::unique_ptr<PdfEngine>()> engines, QPagedPaintDevice *device, Options options,
                   QObject *parent)
    : QObject(parent), m_engines(std::move(engines)), m_device(device), m_options(std::move(options))
{
    // Read here: the device belongs to the painting thread once the run starts.
    m_area = QSizeF(device->width(), device->height());
    m_dpi = device->logicalDpiX();
}

PrintJob::~PrintJob()
{
    cancel();
    if (m_drawer.joinable())
        m_drawer.join();
    if (m_painter.joinable())
        m_painter.join();
}

void PrintJob::start()
{
    if (m_started)
        return;
    m_started = true;
    m_drawer = std::thread([this] { drawPages(); });
    m_painter = std::thread([this] { paintPages(); });
}

void PrintJob::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_changed.notify_all();
}

void PrintJob::fail(Outcome outcome)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_outcome == Outcome::Running)
            m_outcome = outcome;
        // The other thread stops too.
        m_cancelled = true;
    }
    m_changed.notify_all();
}

void PrintJob::push(Piece piece)
{
    std::unique_lock lock(m_mutex);
    // The end always goes in; a piece waits for room.
    m_changed.wait(lock, [&] { return piece.end || m_cancelled || m_pieces.size() < 2; });
    if (!piece.end && m_cancelled)
        return;
    m_pieces.push_back(std::move(piece));
    lock.unlock();
    m_changed.notify_all();
}

PrintJob::Piece PrintJob::pop()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_pieces.empty(); });
    Piece piece = std::move(m_pieces.front());
    m_pieces.pop_front();
    lock.unlock();
    m_changed.notify_all();
    return piece;
}

void PrintJob::drawPages()
{
    std::unique_ptr<PdfEngine> engine = m_engines();
    const PdfOpenStatus status = engine ? engine->open(m_options.path, m_options.password) : PdfOpenStatus::Unsupported;
    if (status != PdfOpenStatus::Ok) {
        m_openStatus = status;
        fail(Outcome::OpenFailed);
    }
    for (qsizetype i = 0; status == PdfOpenStatus::Ok && i < m_options.pages.size() && !m_cancelled; ++i) {
        const int page = m_options.pages.at(i);
        if (page < 0 || page >= engine->pageCount()) {
            fail(Outcome::DrawFailed);
            break;
        }
        const PrintPlacement place = PrintPlacement::compute(engine->pageSize(page), m_area, m_dpi, m_options.maxDpi);
        const int height = place.pixels.height();
        const int rows = printBandRows(place.pixels, m_options.bandBytes);
        for (int top = 0; top < height && !m_cancelled; top += rows) {
            const int n = qMin(rows, height - top);
            QImage image = n == height ? engine->render(page, place.pixels, 0)
                                       : engine->renderBand(page, place.pixels, top, n);
            if (image.size() != QSize(place.pixels.width(), n)) {
                fail(Outcome::DrawFailed);
                break;
            }
            push(Piece{int(i), place, std::move(image), top, top == 0, top + n >= height, false});
        }
    }
    if (engine)
        engine->close();
    push(Piece{0, {}, {}, 0, false, false, true});
}

void PrintJob::paintPiece(QPainter &painter, const Piece &piece)
{
    const PrintPlacement &place = piece.place;
    const QSizeF upright = place.turned ? place.target.size().transposed() : place.target.size();
    const qreal perRow = upright.height() / place.pixels.height();
    painter.save();
    painter.translate(place.target.center());
    if (place.turned)
        painter.rotate(90);
    const QRectF to(-upright.width() / 2, -upright.height() / 2 + piece.top * perRow, upright.width(),
                    piece.image.height() * perRow);
    painter.drawImage(to, piece.image);
    painter.restore();
}

void PrintJob::paintPages()
{
    QPainter painter;
    const bool open = painter.begin(m_device);
    if (!open) {
        m_deviceError = QStringLiteral("プリンターを開けませんでした。");
        fail(Outcome::DeviceFailed);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int total = int(m_options.pages.size());
    for (;;) {
        Piece piece = pop();
        if (piece.end)
            break;
        if (!open || m_cancelled)
            continue; // drained until the drawing thread ends
        if (piece.first && piece.index > 0 && !m_device->newPage()) {
            m_deviceError = QStringLiteral("次のページを送れませんでした。");
            fail(Outcome::DeviceFailed);
            continue;
        }
        paintPiece(painter, piece);
        if (piece.last)
            emit progress(piece.index + 1, total);
    }
    bool printed = false;
    {
        std::lock_guard lock(m_mutex);
        printed = m_outcome == Outcome::Running && !m_cancelled;
        if (!printed && m_outcome == Outcome::Running)
            m_outcome = Outcome::Cancelled;
    }
    if (open) {
        if (!printed && m_options.abortDevice)
            m_options.abortDevice();
        if (!painter.end() && printed) {
            m_deviceError = QStringLiteral("印刷を終えられませんでした。");
            printed = false;
            m_outcome = Outcome::DeviceFailed;
        }
    }
    if (printed && m_options.afterSpool) {
        const QString error = m_options.afterSpool();
        if (!error.isEmpty()) {
            m_deviceError = error;
            printed = false;
            m_outcome = Outcome::DeviceFailed;
        }
    }
    if (printed)
        m_outcome = Outcome::Printed;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_drawer.joinable())
                m_drawer.join();
            if (m_painter.joinable())
                m_painter.join();
            m_done = true;
            emit finished();
        },
        Qt::QueuedConnection);
}
