// Page placement in each layout mode, zoom choices and the page cache.
#include "viewer/PageCache.h"
#include "viewer/PageLayout.h"

#include <QtTest>

using namespace PageLayout;

class TestPageLayout : public QObject
{
    Q_OBJECT
private slots:
    void modeNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("mode");
        QTest::newRow("DontCare") << "DontCare" << int(Mode::DontCare);
        QTest::newRow("SinglePage") << "SinglePage" << int(Mode::SinglePage);
        QTest::newRow("OneColumn") << "OneColumn" << int(Mode::OneColumn);
        QTest::newRow("TwoColumnLeft") << "TwoColumnLeft" << int(Mode::TwoColumnLeft);
        QTest::newRow("TwoColumnRight") << "TwoColumnRight" << int(Mode::TwoColumnRight);
        QTest::newRow("unknown is the default") << "Bogus" << int(Mode::DontCare);
        QTest::newRow("case matters") << "singlepage" << int(Mode::DontCare);
    }
    void modeNames()
    {
        QFETCH(QString, name);
        QFETCH(int, mode);
        QCOMPARE(int(modeFromString(name)), mode);
    }

    // Rows and columns of five equal pages: which pages share a row and on which side.
    void placement_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("rows"); // rows separated by "|", "-" for an empty slot
        QTest::newRow("one column") << int(Mode::OneColumn) << "0|1|2|3|4";
        QTest::newRow("default is continuous") << int(Mode::DontCare) << "0|1|2|3|4";
        QTest::newRow("two columns, first on the left") << int(Mode::TwoColumnLeft) << "0 1|2 3|4 -";
        QTest::newRow("two columns, first alone on the right") << int(Mode::TwoColumnRight) << "- 0|1 2|3 4";
    }
    void placement()
    {
        QFETCH(int, mode);
        QFETCH(QString, rows);
        Params p;
        p.mode = Mode(mode);
        p.viewport = QSize(1000, 700);
        const QList<QSizeF> pages(5, QSizeF(595, 842));
        const Result r = compute(pages, p);
        QMap<int, QMap<int, int>> grid; // top -> (left -> page)
        for (int i = 0; i < 5; ++i)
            grid[r.rects[i].top()][r.rects[i].left()] = i;
        const int centre = r.contentSize.width() / 2;
        QStringList got;
        for (auto row = grid.begin(); row != grid.end(); ++row) {
            if (columnsFor(Mode(mode)) == 1) {
                got << QString::number(row->first());
                continue;
            }
            QString left = "-", right = "-";
            for (auto it = row->begin(); it != row->end(); ++it)
                (r.rects[it.value()].center().x() < centre ? left : right) = QString::number(it.value());
            got << left + " " + right;
        }
        QCOMPARE(got.join('|'), rows);
        // Nothing overlaps, everything fits in the content.
        for (int i = 0; i < 5; ++i) {
            QVERIFY(QRect(QPoint(0, 0), r.contentSize).contains(r.rects[i]));
            for (int j = i + 1; j < 5; ++j)
                QVERIFY(!r.rects[i].intersects(r.rects[j]));
        }
    }

    void singlePageShowsOnlyCurrent()
    {
        Params p;
        p.mode = Mode::SinglePage;
        p.viewport = QSize(800, 600);
        p.currentPage = 2;
        const Result r = compute({QSizeF(595, 842), QSizeF(842, 595), QSizeF(300, 300)}, p);
        QVERIFY(r.rects[0].isNull());
        QVERIFY(r.rects[1].isNull());
        QVERIFY(!r.rects[2].isNull());
        QCOMPARE(r.contentSize.height(), r.rects[2].height() + 2 * margin);
    }

    void zoomModes_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QSize>("firstPage");
        // Viewport 616 wide: 600 px for one column, (600 - 8) / 2 = 296 for two.
        QTest::newRow("fit width") << int(Zoom::FitWidth) << int(Mode::OneColumn) << QSize(600, 848);
        QTest::newRow("fit width, two columns") << int(Zoom::FitWidth) << int(Mode::TwoColumnLeft) << QSize(296, 418);
        QTest::newRow("fit page") << int(Zoom::FitPage) << int(Mode::OneColumn) << QSize(413, 584);
        QTest::newRow("custom 100 %") << int(Zoom::Custom) << int(Mode::OneColumn) << QSize(793, 1123);
    }
    void zoomModes()
    {
        QFETCH(int, zoom);
        QFETCH(int, mode);
        QFETCH(QSize, firstPage);
        Params p;
        p.mode = Mode(mode);
        p.zoom = Zoom(zoom);
        p.viewport = QSize(616, 600);
        const Result r = compute({QSizeF(595, 842), QSizeF(595, 842)}, p);
        QCOMPARE(r.rects[0].size(), firstPage);
        // Fitting never makes the content wider than the view (no needless horizontal bar).
        if (Zoom(zoom) != Zoom::Custom)
            QCOMPARE(r.contentSize.width(), 616);
    }

    void rotationSwapsSides()
    {
        Params p;
        p.viewport = QSize(616, 600);
        p.zoom = Zoom::Custom;
        const QSize upright = compute({QSizeF(595, 842)}, p).rects[0].size();
        p.rotation = 1;
        QCOMPARE(compute({QSizeF(595, 842)}, p).rects[0].size(), upright.transposed());
    }

    void wideMixedPagesScrollSideways()
    {
        Params p;
        p.viewport = QSize(400, 400);
        p.zoom = Zoom::Custom;
        const Result r = compute({QSizeF(300, 300), QSizeF(1200, 300)}, p);
        QVERIFY(r.contentSize.width() > 400);
        QVERIFY(r.rects[1].left() >= 0);
    }

    void emptyDocument()
    {
        const Result r = compute({}, Params{});
        QVERIFY(r.rects.isEmpty());
        QCOMPARE(r.contentSize, QSize(0, 0));
    }

    void hidpiPixelSize()
    {
        QCOMPARE(pixelSize(QSize(100, 141), 2.0), QSize(200, 282));
        QCOMPARE(pixelSize(QSize(100, 141), 1.5), QSize(150, 212));
    }

    void cacheBoundedInBytes()
    {
        QImage img(100, 100, QImage::Format_RGB32); // 40000 bytes
        img.fill(Qt::white);
        PageCache cache(100000);
        auto key = [](int page) { PageKey k; k.path = "/a.pdf"; k.page = page; k.pixelSize = QSize(100, 100); return k; };
        cache.insert(key(0), img);
        cache.insert(key(1), img);
        QVERIFY(!cache.find(key(0)).isNull()); // 0 becomes the most recent
        cache.insert(key(2), img);             // evicts 1, the least recent
        QCOMPARE(cache.count(), 2);
        QVERIFY(cache.usedBytes() <= cache.budgetBytes());
        QVERIFY(cache.contains(key(0)));
        QVERIFY(!cache.contains(key(1)));
        QVERIFY(cache.contains(key(2)));
        // Larger than the whole budget: not kept.
        QImage huge(400, 400, QImage::Format_RGB32);
        cache.insert(key(3), huge);
        QVERIFY(!cache.contains(key(3)));
        // An image in a larger buffer counts the buffer: this one pushes the
        // other two out although its pixels would fit beside them.
        QImage small(10, 10, QImage::Format_RGB32);
        cache.insert(key(4), small, 90000);
        QCOMPARE(cache.count(), 1);
        QCOMPARE(cache.usedBytes(), 90000);
        cache.insert(key(4), small); // again, its pixels only
        QCOMPARE(cache.usedBytes(), small.sizeInBytes());
        cache.clear();
        QCOMPARE(cache.count(), 0);
        QCOMPARE(cache.usedBytes(), 0);
    }

    void cacheKeyParts_data()
    {
        QTest::addColumn<int>("part");
        for (int i = 0; i < 6; ++i)
            QTest::newRow(QByteArray::number(i)) << i;
    }
    void cacheKeyParts()
    {
        // Each part of the key on its own tells two entries apart.
        QFETCH(int, part);
        PageKey a;
        a.path = "/a.pdf";
        a.mtimeMs = 1000;
        a.page = 1;
        a.pixelSize = QSize(200, 300);
        PageKey b = a;
        switch (part) {
        case 0: b.path = "/b.pdf"; break;
        case 1: b.mtimeMs = 2000; break;
        case 2: b.page = 2; break;
        case 3: b.pixelSize = QSize(201, 300); break;
        case 4: b.dprMilli = 2000; break;
        case 5: b.rotation = 1; break;
        }
        PageCache cache(10 << 20);
        QImage img(10, 10, QImage::Format_RGB32);
        cache.insert(a, img);
        QVERIFY(!cache.contains(b));
        QVERIFY(cache.contains(a));
    }
};

QTEST_MAIN(TestPageLayout)
#include "tst_pagelayout.moc"
