#pragma once

#include "viewer/PdfEngine.h"

#include <QObject>
#include <QRectF>
#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QPagedPaintDevice;

// Where one page goes on the paper: fitted into the paint area with its
// aspect kept and centred, turned a quarter clockwise when its orientation
// differs from the paper's, and the pixels it is drawn at (unturned).
struct PrintPlacement
{
    bool turned = false;
    QRectF target; // the page as it lies on the paper, device pixels from the paint area's corner
    QSize pixels;  // the page drawn unturned at the device's resolution, at most maxDpi

    // pagePt: the page's size in points (unturned); area: the paint area in
    // device pixels at deviceDpi.
    static PrintPlacement compute(const QSizeF &pagePt, const QSizeF &area, qreal deviceDpi, qreal maxDpi);
};

// Rows of a page of `pixels` (RGB32) drawn in one piece so that a piece
// holds at most budgetBytes (at least one row).
int printBandRows(const QSize &pixels, qint64 budgetBytes);

// The pages printed, in order, for pages first ... last (0-based): each
// copy of the whole run after the other when collated, else each page as
// often as there are copies; from the last page back when lastFirst.
QList<int> printPageSequence(int first, int last, int copies, bool collate, bool lastFirst);

// One print run of a document onto a paged device (a QPrinter writing PDF,
// or a QPdfWriter).  Nothing of the document is read in this process: an
// engine from `engines` opens it and draws its pages (the render helper's,
// in the program), in bands where a page would be too large in one piece.
//
// Threads.  Two of its own: one asks the engine for pages, the other paints
// them onto the device with one QPainter, begun, used and ended on that
// thread alone (Qt paints onto a QPrinter or QPdfWriter off the UI thread;
// the device must not be touched elsewhere while the job runs).  The next
// page is drawn while the last one is written, and the UI thread only hears
// of progress.  At most two drawn pieces wait between the threads.
//
// Made, started, cancelled and deleted on the UI thread (deleting cancels
// and waits).  Signals (queued to the job's thread):
//  - progress(done, total): `done` pages of `total` are on the device;
//  - finished(): the run is over; outcome() tells how.
class PrintJob : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Running, Printed, Cancelled, OpenFailed, DrawFailed, DeviceFailed };
    Q_ENUM(Outcome)

    struct Options
    {
        QString path;
        QString password;
        QList<int> pages;                 // 0-based, in the order printed
        qint64 bandBytes = 64ll << 20;    // largest piece of a page drawn at once
        qreal maxDpi = 600;
        // On the painting thread, once the device is ended and every page
        // is on it: hands the result on (to a print server); an error text
        // on failure.  Not run for a cancelled or failed run.
        std::function<QString()> afterSpool;
        // On the painting thread, when a run is cancelled while the device is
        // open (QPrinter::abort()).
        std::function<void()> abortDevice;
    };

    // `device` is not owned and must outlive the job; its paint area and
    // resolution are read here, on the UI thread.
    PrintJob(std::function<std::unique_ptr<PdfEngine>()> engines, QPagedPaintDevice *device, Options options,
             QObject *parent = nullptr);
    ~PrintJob() override;

    void start();
    // Stops the run: nothing more reaches the device.  Any thread.
    void cancel();
    bool isRunning() const { return m_started && !m_done; }

    Outcome outcome() const { return m_outcome; }
    // Why the document did not open (OpenFailed).
    PdfOpenStatus openStatus() const { return m_openStatus; }
    // What the device or the server said (DeviceFailed).
    QString deviceError() const { return m_deviceError; }

signals:
    void progress(int done, int total);
    void finished();

private:
    struct Piece
    {
        int index = 0; // in m_options.pages
        PrintPlacement place;
        QImage image;
        int top = 0;
        bool first = false, last = false;
        bool end = false; // nothing follows
    };
    void drawPages();
    void paintPages();
    void push(Piece piece);
    Piece pop();
    void fail(Outcome outcome);
    void paintPiece(class QPainter &painter, const Piece &piece);

    std::function<std::unique_ptr<PdfEngine>()> m_engines;
    QPagedPaintDevice *m_device;
    Options m_options;
    QSizeF m_area;
    qreal m_dpi = 72;

    std::thread m_drawer, m_painter;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Piece> m_pieces;
    std::atomic<bool> m_cancelled{false};

    // Written by the threads before the run ends, read after finished().
    Outcome m_outcome = Outcome::Running;
    PdfOpenStatus m_openStatus = PdfOpenStatus::Ok;
    QString m_deviceError;
    bool m_started = false;
    bool m_done = false;
};
