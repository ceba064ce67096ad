#pragma once

#include "viewer/PdfViewer.h"
#include "viewer/PrintJob.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QPrinter;
class QProgressDialog;
class QTemporaryDir;
class QWidget;

// Prints the shown document: the print dialog (printer, copies, all pages,
// the current page or a range, orientation), then a PrintJob on engines of
// `engines` (the render helper's), with a progress dialog that can cancel
// it while the window goes on answering.  A printer that is a print
// server's queue gets the finished job from libcups; a cancelled or failed
// run sends it nothing.  Problems are told in Japanese through the message
// sink (a warning box over `window` unless replaced).
//
// One run at a time.  Owned by its parent (the window); UI thread only.
// Signals: finished(outcome) when a run that started is over.
class DocumentPrinter : public QObject
{
    Q_OBJECT
public:
    using EngineFactory = std::function<std::unique_ptr<PdfEngine>()>;
    DocumentPrinter(EngineFactory engines, QWidget *window);
    ~DocumentPrinter() override;

    // Shows the print dialog for `source` and starts the run chosen there.
    void print(const PrintSource &source);
    // Starts a run on `printer` as a print dialog left it (printer or output
    // file, range, copies, layout), without asking.  False when none started
    // (the reason went to the message sink).
    bool printWith(std::unique_ptr<QPrinter> printer, const PrintSource &source);

    bool isBusy() const { return m_job != nullptr; }
    PrintJob *job() const { return m_job; }
    QProgressDialog *progressDialog() const { return m_progress; }
    // Where the messages go; for tests.
    void setMessageSink(std::function<void(const QString &)> sink) { m_sink = std::move(sink); }
    // The piece of a page drawn at once (bytes); for tests.
    void setBandBytes(qint64 bytes) { m_bandBytes = bytes; }

    // The Japanese text for a document that cannot be opened to print.
    static QString openFailedText(PdfOpenStatus status, const QString &path);

signals:
    void finished(PrintJob::Outcome outcome);

private:
    void onFinished();
    void tell(const QString &text);
    // Opens the document in an engine of its own; its page count, or 0 with
    // the reason told.
    int countPages(const PrintSource &source);

    EngineFactory m_engines;
    QPointer<QWidget> m_window;
    std::function<void(const QString &)> m_sink;
    qint64 m_bandBytes = 64ll << 20;

    // The run under way.
    std::unique_ptr<QPrinter> m_printer;      // as the dialog left it
    std::unique_ptr<QPrinter> m_spool;        // the PDF handed to the server
    std::unique_ptr<QTemporaryDir> m_spoolDir;
    PrintJob *m_job = nullptr;
    QProgressDialog *m_progress = nullptr;
    QString m_target; // the printer's name or the output file, for messages
    QString m_sourcePath;
};
