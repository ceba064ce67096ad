// Every PDF of the real-world corpus opens in the view control or shows its
// message there: no crash, no hang, and the outcome the manifest records.
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"
#include "viewer/isolated/PdfEngines.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

class TestViewerCorpus : public QObject
{
    Q_OBJECT
private slots:
    void everyFileOpensOrSaysWhy()
    {
        const QString corpus = qEnvironmentVariable("SHEAFLINE_CORPUS");
        if (corpus.isEmpty() || !QFileInfo(corpus).isDir())
            QSKIP("the PDF corpus is not present");
        QFile manifest(QDir(corpus).filePath("../manifest.tsv"));
        if (!manifest.open(QIODevice::ReadOnly | QIODevice::Text))
            QSKIP("the corpus has no manifest.tsv");
        struct Entry { QString file; int pages; QString opens; };
        QList<Entry> entries;
        manifest.readLine(); // header
        while (!manifest.atEnd()) {
            const QStringList f = QString::fromUtf8(manifest.readLine()).trimmed().split('\t');
            if (f.size() >= 4)
                entries << Entry{f[0], f[2].toInt(), f[3]};
        }
        QVERIFY(entries.size() > 100);

        PdfEngines engines(PdfEngines::kindFromEnvironment());
        QWidget window;
        auto *acro = new TAcroPDF(&window, 64ll << 20, engines.factory(),
                                  [&engines](int ms) { engines.shortenWait(ms); });
        acro->resize(800, 600);
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy shown(acro, &TAcroPDF::documentShown);
        QStringList mismatches;
        QElapsedTimer total;
        total.start();
        qint64 slowest = 0;
        QString slowestFile;
        for (const Entry &e : entries) {
            const QString path = QDir(corpus).filePath(e.file);
            shown.clear();
            QElapsedTimer t;
            t.start();
            acro->LoadFile(path);
            // Painted or explained within 30 s each: anything longer counts as a hang.
            while (shown.isEmpty() && t.elapsed() < 30000)
                shown.wait(100);
            if (shown.isEmpty()) {
                mismatches << e.file + ": nothing shown within 30 s";
                continue;
            }
            if (t.elapsed() > slowest) {
                slowest = t.elapsed();
                slowestFile = e.file;
            }
            const bool showsPages = !acro->showsMessage();
            if (e.opens == "yes") {
                if (!showsPages || acro->pageView()->document().pageCount() != e.pages)
                    mismatches << e.file + ": expected " + QString::number(e.pages) + " pages, got "
                                      + (showsPages ? QString::number(acro->pageView()->document().pageCount())
                                                    : acro->messageLabel()->text());
            } else if (e.opens == "incorrect-password") {
                if (showsPages || !acro->passwordEdit()->isVisibleTo(acro))
                    mismatches << e.file + ": expected the password prompt";
            } else if (showsPages || acro->messageLabel()->text().isEmpty()) {
                mismatches << e.file + ": expected a message (" + e.opens + ")";
            }
        }
        acro->setSrc(QString());
        qInfo("%lld files in %lld ms, slowest %s (%lld ms)", qint64(entries.size()), total.elapsed(),
              qPrintable(slowestFile), slowest);
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join('\n')));
    }
};

QTEST_MAIN(TestViewerCorpus)
#include "tst_viewercorpus.moc"
