// The help document generated at build time: present next to the program,
// readable by the viewer's engine, in Japanese, covering the program's tasks.
#include <QPdfDocument>
#include <QtTest>

class TestReadme : public QObject
{
    Q_OBJECT
private slots:
    void helpDocumentIsGenerated()
    {
        const QString path = QStringLiteral(SHEAFLINE_README_PDF);
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QPdfDocument doc;
        QCOMPARE(doc.load(path), QPdfDocument::Error::None);
        QVERIFY(doc.pageCount() >= 1);
        QString text;
        for (int i = 0; i < doc.pageCount(); ++i)
            text += doc.getAllText(i).text();
        text.remove(QRegularExpression(QStringLiteral("\\s")));
        for (const char *topic : {"ルートフォルダー", "ファイル", "レイアウトモード", "表示初期化", "名前の変更",
                                  "関連付けアプリで開く", "アップデート"})
            QVERIFY2(text.contains(QString::fromUtf8(topic)), topic);
        // The Japanese glyphs are really drawn (not empty boxes): the first page has ink.
        const QImage img = doc.render(0, QSize(595, 842));
        if (qEnvironmentVariableIsSet("SHEAFLINE_SAVE_README_PAGE"))
            img.save(qEnvironmentVariable("SHEAFLINE_SAVE_README_PAGE"));
        int ink = 0;
        for (int y = 0; y < img.height(); y += 2)
            for (int x = 0; x < img.width(); x += 2)
                ink += qAlpha(img.pixel(x, y)) > 0 && qGray(img.pixel(x, y)) < 128;
        QVERIFY(ink > 500);
    }
};

QTEST_MAIN(TestReadme)
#include "tst_readme.moc"
