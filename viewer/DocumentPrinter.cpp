#include "viewer/DocumentPrinter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QTemporaryDir>

#include <cups/cups.h>

namespace {

// Hands a finished PDF to the print server's queue `printer` (the server
// libcups is pointed at: $CUPS_SERVER or the system's).  Empty on success,
// else what the server said.
QString submitToServer(const QString &printer, const QString &file, const QString &title, const QPrinter &settings)
{
    cups_option_t *options = nullptr;
    int n = 0;
    n = cupsAddOption("media", settings.pageLayout().pageSize().key().toUtf8().constData(), n, &options);
    if (settings.copyCount() > 1) {
        n = cupsAddOption("copies", QByteArray::number(settings.copyCount()).constData(), n, &options);
        if (settings.collateCopies())
            n = cupsAddOption("Collate", "True", n, &options);
    }
    switch (settings.duplex()) {
    case QPrinter::DuplexLongSide: n = cupsAddOption("sides", "two-sided-long-edge", n, &options); break;
    case QPrinter::DuplexShortSide: n = cupsAddOption("sides", "two-sided-short-edge", n, &options); break;
    case QPrinter::DuplexNone: n = cupsAddOption("sides", "one-sided", n, &options); break;
    default: break;
    }
    const int id = cupsPrintFile(printer.toLocal8Bit().constData(), QFile::encodeName(file).constData(),
                                 title.toUtf8().constData(), n, options);
    cupsFreeOptions(n, options);
    if (id > 0)
        return {};
    const QString said = QString::fromUtf8(cupsLastErrorString());
    return said.isEmpty() ? QStringLiteral("印刷サーバーが印刷を受け付けませんでした。") : said;
}

} // namespace

DocumentPrinter::DocumentPrinter(EngineFactory engines, QWidget *window)
    : QObject(window), m_engines(std::move(engines)), m_window(window)
{
}

DocumentPrinter::~DocumentPrinter()
{
    // The job cancels and waits for its threads before the printers go.
    delete m_job;
}

QString DocumentPrinter::openFailedText(PdfOpenStatus status, const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    switch (status) {
    case PdfOpenStatus::NeedsPassword:
    case PdfOpenStatus::WrongPassword:
        return QStringLiteral("%1 はパスワードで保護されています。\n表示するときにパスワードを入力してから印刷してください。")
            .arg(name);
    case PdfOpenStatus::NotFound:
        return QStringLiteral("%1 を印刷できません。\nファイルが見つかりません。").arg(name);
    case PdfOpenStatus::InvalidFormat:
        return QStringLiteral("%1 を印刷できません。\nPDF ファイルではないか、ファイルが壊れています。").arg(name);
    case PdfOpenStatus::NoPages:
        return QStringLiteral("%1 を印刷できません。\n印刷できるページがありません。").arg(name);
    case PdfOpenStatus::Unsupported:
        return QStringLiteral("%1 を印刷できません。\n対応していない暗号化方式です。").arg(name);
    default:
        return QStringLiteral("%1 を印刷できません。\nファイルを読み込めません。").arg(name);
    }
}

void DocumentPrinter::tell(const QString &text)
{
    if (m_sink)
        m_sink(text);
    else
        QMessageBox::warning(m_window, QApplication::applicationName(), text);
}

int DocumentPrinter::countPages(const PrintSource &source)
{
    // One exchange with the helper: the dialog needs the page count, and a
    // document that cannot be read is told before the dialog, not after.
    std::unique_ptr<PdfEngine> engine = m_engines();
    const PdfOpenStatus status = engine ? engine->open(source.path, source.password) : PdfOpenStatus::Unsupported;
    if (status != PdfOpenStatus::Ok) {
        tell(openFailedText(status, source.path));
        return 0;
    }
    const int pages = engine->pageCount();
    engine->close();
    return pages;
}

void DocumentPrinter::print(const PrintSource &source)
{
    if (isBusy()) {
        if (m_progress)
            m_progress->raise();
        return;
    }
    if (source.path.isEmpty()) {
        tell(QStringLiteral("印刷する文書が表示されていません。"));
        return;
    }
    const int pages = countPages(source);
    if (pages <= 0)
        return;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setDocName(QFileInfo(source.path).fileName());
    QPrintDialog dialog(printer.get(), m_window);
    dialog.setWindowTitle(QStringLiteral("印刷"));
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintToFile
                                                       | QAbstractPrintDialog::PrintPageRange
                                                       | QAbstractPrintDialog::PrintCollateCopies
                                                       | QAbstractPrintDialog::PrintShowPageSize;
    if (source.currentPage >= 0)
        options |= QAbstractPrintDialog::PrintCurrentPage;
    dialog.setOptions(options);
    dialog.setMinMax(1, pages);
    dialog.setFromTo(1, pages);
    if (dialog.exec() != QDialog::Accepted)
        return;
    printWith(std::move(printer), source);
}

bool DocumentPrinter::printWith(std::unique_ptr<QPrinter> printer, const PrintSource &source)
{
    if (isBusy() || !printer)
        return false;
    const int pages = countPages(source);
    if (pages <= 0)
        return false;

    int first = 0, last = pages - 1;
    switch (printer->printRange()) {
    case QPrinter::PageRange:
        first = qBound(0, printer->fromPage() - 1, pages - 1);
        last = printer->toPage() > 0 ? qBound(first, printer->toPage() - 1, pages - 1) : pages - 1;
        break;
    case QPrinter::CurrentPage:
        first = last = qBound(0, source.currentPage, pages - 1);
        break;
    default:
        break;
    }

    const bool toFile = !printer->outputFileName().isEmpty();
    PrintJob::Options options;
    options.path = source.path;
    options.password = source.password;
    options.bandBytes = m_bandBytes;
    QPagedPaintDevice *device = printer.get();
    if (toFile) {
        // A file has no copies of its own: they are drawn into it.
        m_target = printer->outputFileName();
        options.pages = printPageSequence(first, last, printer->copyCount(), printer->collateCopies(),
                                          printer->pageOrder() == QPrinter::LastPageFirst);
        QPrinter *p = printer.get();
        options.abortDevice = [p] { p->abort(); };
    } else {
        m_target = printer->printerName();
        if (m_target.isEmpty() || QPrinterInfo::printerInfo(m_target).isNull()) {
            tell(m_target.isEmpty() ? QStringLiteral("印刷できるプリンターがありません。")
                                    : QStringLiteral("プリンター「%1」が見つかりません。").arg(m_target));
            return false;
        }
        // The job is written to a PDF of ours and handed to the server only
        // once it is whole: a cancelled run leaves nothing in the queue, and
        // what the server says about the job is known (Qt's own print
        // engine sends whatever was painted when the painter ends, and
        // drops the server's answer).  The server makes the copies.
        m_spoolDir = std::make_unique<QTemporaryDir>();
        if (!m_spoolDir->isValid()) {
            tell(QStringLiteral("印刷用の一時ファイルを作れません。"));
            m_spoolDir.reset();
            return false;
        }
        m_spool = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_spool->setOutputFormat(QPrinter::PdfFormat);
        m_spool->setOutputFileName(m_spoolDir->filePath(QStringLiteral("job.pdf")));
        m_spool->setPageLayout(printer->pageLayout());
        m_spool->setResolution(printer->resolution());
        m_spool->setDocName(printer->docName());
        m_spool->setCreator(QApplication::applicationName());
        options.pages = printPageSequence(first, last, 1, true, printer->pageOrder() == QPrinter::LastPageFirst);
        const QString queue = m_target, file = m_spool->outputFileName(), title = printer->docName();
        QPrinter *settings = printer.get();
        options.afterSpool = [queue, file, title, settings] { return submitToServer(queue, file, title, *settings); };
        QPrinter *spool = m_spool.get();
        options.abortDevice = [spool] { spool->abort(); };
        device = m_spool.get();
    }
    m_printer = std::move(printer);
    m_sourcePath = source.path;

    const int total = int(options.pages.size());
    m_job = new PrintJob(m_engines, device, std::move(options), this);
    m_progress = new QProgressDialog(QStringLiteral("印刷中…"), QStringLiteral("キャンセル"), 0, total, m_window);
    m_progress->setWindowTitle(QStringLiteral("印刷"));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    // Short runs end before it would show.
    m_progress->setMinimumDuration(400);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, m_job, &PrintJob::cancel);
    connect(m_job, &PrintJob::progress, m_progress, [this, total](int done, int) {
        m_progress->setLabelText(QStringLiteral("印刷中… (%1 / %2 ページ)").arg(done).arg(total));
        m_progress->setValue(qMin(done, total));
    });
    connect(m_job, &PrintJob::finished, this, &DocumentPrinter::onFinished);
    m_job->start();
    return true;
}

void DocumentPrinter::onFinished()
{
    const PrintJob::Outcome outcome = m_job->outcome();
    const PdfOpenStatus openStatus = m_job->openStatus();
    const QString error = m_job->deviceError();
    const QString path = m_printer ? m_printer->outputFileName() : QString();
    m_job->deleteLater();
    m_job = nullptr;
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
    m_spool.reset();
    m_spoolDir.reset();
    m_printer.reset();
    // A run that did not finish leaves no half-written file behind.
    if (outcome != PrintJob::Outcome::Printed && !path.isEmpty())
        QFile::remove(path);

    switch (outcome) {
    case PrintJob::Outcome::OpenFailed:
        tell(openFailedText(openStatus, m_sourcePath));
        break;
    case PrintJob::Outcome::DrawFailed:
        tell(QStringLiteral("ページを描けなかったため、印刷を中止しました。"));
        break;
    case PrintJob::Outcome::DeviceFailed:
        if (path.isEmpty())
            tell(QStringLiteral("プリンター「%1」で印刷できませんでした。\n%2").arg(m_target, error));
        else
            tell(QStringLiteral("ファイル %1 に印刷できませんでした。").arg(QDir::toNativeSeparators(path)));
        break;
    default:
        break;
    }
    emit finished(outcome);
}
