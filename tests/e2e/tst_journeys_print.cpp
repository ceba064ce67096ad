// Printing with real input through a real print server: a cupsd of the
// journey's own (foreground, private configuration, spool and port on
// 127.0.0.1) with a queue that writes the PDF it is sent to a file, made the
// server's default.  The program, pointed at that server, is asked to print
// with Ctrl+P; the print dialog is read from the screen and confirmed with
// Enter, and what comes out of the queue is opened and compared with the
// document, page by page.
#include "Journey.h"
#include "SolidPdf.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Desktop;

namespace {

// A program of the print server's, on the PATH or where Debian puts it.
QString tool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin")}) : found;
}

bool writeText(const QString &path, const QString &text)
{
    QFile f(path);
    const QByteArray bytes = text.toUtf8();
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A printer that takes PDF as it is: the server's PDF filter (pdftopdf, of
// cups-filters) passes the job on as PDF, with no printer language around
// it.  (A queue with no driver at all, "-m raw", runs no filter, and a file
// device then gets nothing.)
const char kPdfPpd[] = R"ppd(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "PDFFILE.PPD"
*Manufacturer: "Sheafline"
*Product: "(PDF file)"
*ModelName: "PDF file"
*ShortNickName: "PDF file"
*NickName: "PDF file"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*DefaultColorSpace: RGB
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsFilter: "application/vnd.cups-pdf 0 -"
*OpenUI *PageSize/Page Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: ""
*PageSize Letter/Letter: ""
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: ""
*PageRegion Letter/Letter: ""
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "0 0 595 842"
*ImageableArea Letter/Letter: "0 0 612 792"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*PaperDimension Letter/Letter: "612 792"
)ppd";

// A cupsd of the test's own, with one queue, "Test", the server's default,
// that writes each job to out.pdf in the server's folder.  Stopped with the
// object, by its process.
class PrintServer
{
public:
    static constexpr const char *kQueue = "Test";

    ~PrintServer() { stop(); }

    // Starts the server and sets up the queue; an error text, empty when
    // all is well.
    QString start()
    {
        const QString cupsd = tool(QStringLiteral("cupsd"));
        if (cupsd.isEmpty() || tool(QStringLiteral("lpadmin")).isEmpty() || tool(QStringLiteral("lpstat")).isEmpty())
            return QStringLiteral("cupsd, lpadmin or lpstat is missing (Debian packages cups, cups-client)");
        if (!QFile::exists(QStringLiteral("/usr/lib/cups/filter/pdftopdf")))
            return QStringLiteral("the print server's PDF filter is missing (Debian package cups-filters)");
        if (!m_root.isValid())
            return QStringLiteral("no folder for the print server");
        const QString r = m_root.path();
        for (const char *d : {"spool", "cache", "state", "log"})
            if (!QDir(r).mkpath(QString::fromLatin1(d)))
                return QStringLiteral("cannot make the print server's folders");
        if (!writeText(r + QStringLiteral("/cups-files.conf"),
                       QStringLiteral("FileDevice Yes\nServerRoot %1\nRequestRoot %1/spool\nCacheDir %1/cache\n"
                                      "StateDir %1/state\nErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                                      "PageLog %1/log/page_log\n")
                           .arg(r))
            || !writeText(r + QStringLiteral("/pdf.ppd"), QString::fromLatin1(kPdfPpd)))
            return QStringLiteral("cannot write the print server's configuration");

        // A free port is learnt by taking one and letting it go: another
        // program may take it in between, so a server that ends at start is
        // tried again on another.
        QString error;
        for (int attempt = 0; attempt < 3; ++attempt) {
            error = startOnFreePort(cupsd);
            if (error.isEmpty())
                break;
        }
        if (!error.isEmpty())
            return error;

        if (!admin({QStringLiteral("-p"), QString::fromLatin1(kQueue), QStringLiteral("-E"), QStringLiteral("-v"),
                    QStringLiteral("file://") + outPath(), QStringLiteral("-P"), r + QStringLiteral("/pdf.ppd")}))
            return QStringLiteral("lpadmin cannot add the queue: ") + m_lastOutput;
        if (!admin({QStringLiteral("-d"), QString::fromLatin1(kQueue)}))
            return QStringLiteral("lpadmin cannot make the queue the default: ") + m_lastOutput;
        return {};
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString outPath() const { return m_root.filePath(QStringLiteral("out.pdf")); }

    // What the server answers for `args` (lpstat's options), or an empty
    // text when it does not answer.
    QString lpstat(const QStringList &args) const
    {
        bool ok = false;
        const QString out = run(tool(QStringLiteral("lpstat")), QStringList{QStringLiteral("-h"), address()} + args, &ok);
        return ok ? out : QString();
    }

    // The server's default queue as it tells it.
    QString defaultQueue() const
    {
        const QString out = lpstat({QStringLiteral("-d")});
        const int colon = out.lastIndexOf(QLatin1Char(':'));
        return colon < 0 ? QString() : out.mid(colon + 1).trimmed();
    }

    // The queue's jobs the server has finished.
    int completedJobs() const
    {
        const QString out = lpstat({QStringLiteral("-W"), QStringLiteral("completed"), QStringLiteral("-o"),
                                    QString::fromLatin1(kQueue)});
        return int(out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
    }

    QString errorLog() const
    {
        QFile log(m_root.filePath(QStringLiteral("log/error_log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll().right(2000)) : QString();
    }

    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(10000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

private:
    QString startOnFreePort(const QString &cupsd)
    {
        stop();
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost))
                return QStringLiteral("no free port on 127.0.0.1");
            m_port = probe.serverPort();
        }
        const QString r = m_root.path();
        if (!writeText(r + QStringLiteral("/cupsd.conf"),
                       QStringLiteral("Listen 127.0.0.1:%1\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                                      "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n"
                                      "</Location>\n<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n")
                           .arg(m_port)))
            return QStringLiteral("cannot write the print server's configuration");
        m_server.setProcessChannelMode(QProcess::ForwardedChannels);
        m_server.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), r + QStringLiteral("/cupsd.conf"),
                               QStringLiteral("-s"), r + QStringLiteral("/cups-files.conf")});
        if (!m_server.waitForStarted(10000))
            return QStringLiteral("cupsd does not start: ") + m_server.errorString();
        // It serves once lpstat hears it say so; lpstat exits with 0 either way.
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (m_server.state() == QProcess::NotRunning)
                return QStringLiteral("cupsd ended at start (the port taken? its log says): ") + errorLog();
            if (lpstat({QStringLiteral("-r")}) == QLatin1String("scheduler is running"))
                return {};
            QTest::qWait(50);
        }
        return QStringLiteral("cupsd does not answer on ") + address();
    }

    bool admin(const QStringList &args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(tool(QStringLiteral("lpadmin")),
                QStringList{QStringLiteral("-h"), address()} + args);
        const bool ok = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        m_lastOutput = QString::fromLocal8Bit(p.readAll()).trimmed();
        return ok;
    }

    QTemporaryDir m_root{QDir::tempPath() + QStringLiteral("/sheafline-cups-XXXXXX")};
    QProcess m_server;
    quint16 m_port = 0;
    QString m_lastOutput;
};

// The colour that fills most of `image` among the documents' colours and
// white, and its share of the pixels.
QPair<QColor, double> dominant(const QImage &image)
{
    QPair<QColor, double> best{QColor(), 0};
    for (const QColor &c : {kRed, kGreen, kBlue, kYellow, QColor(Qt::white)}) {
        const double share = colourShare(image, image.rect(), c);
        if (share > best.second)
            best = {c, share};
    }
    return best;
}

} // namespace

class TestPrintJourneys : public JourneyTest
{
    Q_OBJECT

    std::unique_ptr<PrintServer> m_server;

private slots:
    void init()
    {
        m_server = std::make_unique<PrintServer>();
        const QString error = m_server->start();
        if (!error.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no print server of the test's own: ") + error));
        QCOMPARE(m_server->defaultQueue(), QString::fromLatin1(PrintServer::kQueue));
    }

    void cleanup() { m_server.reset(); }

    // Ctrl+P on a shown document, Enter on the print dialog (whose printer
    // is the server's default): the server's queue gets the document, all
    // its pages, each as it was drawn.  In the built-in view and in the web
    // view.
    void printsTheShownDocumentThroughThePrintServer_data()
    {
        QTest::addColumn<QStringList>("switches");
        QTest::newRow("built-in view") << QStringList();
        QTest::newRow("web view") << QStringList{QStringLiteral("-b")};
    }
    void printsTheShownDocumentThroughThePrintServer()
    {
        QFETCH(QStringList, switches);
        const QList<QColor> pages{kRed, kGreen, kBlue};
        auto rig = newRig();
        QVERIFY(rig);
        QVERIFY(SolidPdf::writePages(rig->doc(QStringLiteral("alpha.pdf")), pages));
        rig->app->setEnvironment(QStringLiteral("CUPS_SERVER"), m_server->address());
        // Only the server's default decides the printer.
        rig->app->setEnvironment(QStringLiteral("LPDEST"), QString());
        rig->app->setEnvironment(QStringLiteral("PRINTER"), QString());
        QVERIFY(launch(*rig, QStringList{rig->docs} + switches));
        QVERIFY(waitText(*rig, QStringLiteral("alpha.pdf")));
        QVERIFY(step(*rig, kRed));

        key(QStringLiteral("ctrl+p"));
        QVERIFY2(waitWindow(*rig, QStringLiteral("印刷"), true), "no print dialog");
        const std::optional<Window> dialog = rig->app->window(QStringLiteral("印刷"));
        QVERIFY(dialog);
        // As a person reads it: the button in Japanese, and the printer
        // chosen is the server's default queue.
        QVERIFY(waitText(*rig, dialog->frame, QStringLiteral("印刷")));
        QVERIFY(waitText(*rig, dialog->frame, QString::fromLatin1(PrintServer::kQueue)));
        QCOMPARE(m_server->completedJobs(), 0);
        key(QStringLiteral("Return"));
        QVERIFY2(waitWindow(*rig, QStringLiteral("印刷"), false), "the print dialog stays");

        // The server has done the job and the file is whole.
        const QString out = m_server->outPath();
        const QDeadlineTimer deadline(90000);
        bool done = false;
        while (!deadline.hasExpired() && !done) {
            if (m_server->completedJobs() == 1 && QFileInfo(out).size() > 0) {
                QFile f(out);
                done = f.open(QIODevice::ReadOnly) && f.size() > 16 && (f.seek(f.size() - 16), f.read(16).contains("%%EOF"));
            }
            if (!done)
                QTest::qWait(100);
        }
        QVERIFY2(done, qPrintable(QStringLiteral("the queue wrote no whole PDF; the program said: %1; the server: %2")
                                      .arg(rig->app->errors(), m_server->errorLog())));

        QPdfDocument printed;
        QCOMPARE(printed.load(out), QPdfDocument::Error::None);
        QCOMPARE(printed.pageCount(), int(pages.size()));
        for (int i = 0; i < printed.pageCount(); ++i) {
            const QSizeF pt = printed.pagePointSize(i);
            QVERIFY2(qAbs(pt.width() - 595) < 3 && qAbs(pt.height() - 842) < 3,
                     qPrintable(QStringLiteral("page %1 is %2 x %3 pt, not A4").arg(i + 1).arg(pt.width()).arg(pt.height())));
            const QImage image = printed.render(i, QSize(60, 85)).convertToFormat(QImage::Format_RGB32);
            const auto [colour, share] = dominant(image);
            QVERIFY2(colour == pages.at(i) && share > 0.8,
                     qPrintable(QStringLiteral("printed page %1 is %2 (%3 %), drawn %4")
                                    .arg(i + 1)
                                    .arg(colour.name())
                                    .arg(qRound(share * 100))
                                    .arg(pages.at(i).name())));
        }

        QVERIFY(closeByWindowManager(*rig));
    }
};

QTEST_MAIN(TestPrintJourneys)
#include "tst_journeys_print.moc"
