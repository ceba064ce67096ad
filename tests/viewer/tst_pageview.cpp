// The page view's decisions without a widget: page points to the viewport
// and back under rotation, zoom and scrolling, the page and link under the
// pointer, scroll targets, keys and the wheel at the page's edge, and which
// pages it asks the render service for.
#include "viewer/PagePlan.h"
#include "viewer/PageViewGeometry.h"

#include <QtTest>

namespace {

// One page of 100 x 200 points, laid out at `rect` (content coordinates).
PageViewGeometry onePage(int rotation, const QRect &rect, const QPoint &scroll = {})
{
    return PageViewGeometry({rect}, {QSizeF(100, 200)}, rotation, scroll);
}

// Two pages of 100 x 100 points one above the other, 100 pixels each.
PageViewGeometry twoPages(const QPoint &scroll)
{
    return PageViewGeometry({QRect(10, 8, 100, 100), QRect(10, 116, 100, 100)}, {QSizeF(100, 100), QSizeF(100, 100)},
                            0, scroll);
}

QString describe(const PageKeyMove &m)
{
    static const char *const scrolls[] = {"LineDown", "LineUp", "PageDown", "PageUp", "LineLeft", "LineRight"};
    switch (m.kind) {
    case PageKeyMove::Kind::Unhandled: return "unhandled";
    case PageKeyMove::Kind::Stay: return "stay";
    case PageKeyMove::Kind::Scroll: return QStringLiteral("scroll %1").arg(scrolls[int(m.scroll)]);
    case PageKeyMove::Kind::ShowPage: return QStringLiteral("show %1%2").arg(m.page).arg(m.toBottom ? " bottom" : "");
    case PageKeyMove::Kind::GoToPage: return QStringLiteral("go %1").arg(m.page);
    }
    return {};
}

QString describe(const QList<PageRequest> &requests)
{
    QStringList out;
    for (const PageRequest &r : requests)
        out << QStringLiteral("%1@%2x%3").arg(r.page).arg(r.pixelSize.width()).arg(r.pixelSize.height());
    return out.join(' ');
}

} // namespace

class TestPageView : public QObject
{
    Q_OBJECT
private slots:
    void pagePointsToViewport_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QPoint>("scroll");
        QTest::addColumn<QPointF>("pagePoint");
        QTest::addColumn<QPointF>("viewportPoint");
        // Half a pixel per point; a turned page lies on its side.
        QTest::newRow("upright") << 0 << QRect(10, 20, 50, 100) << QPoint() << QPointF(20, 40) << QPointF(20, 40);
        QTest::newRow("a quarter turn") << 1 << QRect(10, 20, 100, 50) << QPoint() << QPointF(20, 40) << QPointF(90, 30);
        QTest::newRow("half a turn") << 2 << QRect(10, 20, 50, 100) << QPoint() << QPointF(20, 40) << QPointF(50, 100);
        QTest::newRow("three quarters") << 3 << QRect(10, 20, 100, 50) << QPoint() << QPointF(20, 40) << QPointF(30, 60);
        QTest::newRow("scrolled") << 0 << QRect(10, 20, 50, 100) << QPoint(5, 7) << QPointF(20, 40) << QPointF(15, 33);
        QTest::newRow("zoomed in, a pixel per point")
            << 0 << QRect(10, 20, 100, 200) << QPoint() << QPointF(20, 40) << QPointF(30, 60);
        QTest::newRow("zoomed in, turned and scrolled")
            << 1 << QRect(10, 20, 200, 100) << QPoint(0, 10) << QPointF(20, 40) << QPointF(170, 30);
        QTest::newRow("turned: the bottom-left corner at the top-left")
            << 1 << QRect(10, 20, 100, 50) << QPoint() << QPointF(0, 200) << QPointF(10, 20);
    }
    void pagePointsToViewport()
    {
        QFETCH(int, rotation);
        QFETCH(QRect, rect);
        QFETCH(QPoint, scroll);
        QFETCH(QPointF, pagePoint);
        QFETCH(QPointF, viewportPoint);
        const PageViewGeometry g = onePage(rotation, rect, scroll);
        QCOMPARE(g.pageRect(0), rect.translated(-scroll));
        QCOMPARE(g.toViewport(0, pagePoint), viewportPoint);
        // And back: the pointer on that spot is on that page point.
        QCOMPARE(g.toPage(0, viewportPoint.toPoint()), pagePoint);
        QCOMPARE(g.pageAt(viewportPoint.toPoint()), 0);
        // A rectangle maps corner by corner, a polygon point by point.
        const QRectF r = g.toViewport(0, QRectF(pagePoint, QSizeF(0, 0)));
        QCOMPARE(r.topLeft(), viewportPoint);
        QCOMPARE(g.toViewport(0, QPolygonF{pagePoint, pagePoint}), (QPolygonF{viewportPoint, viewportPoint}));
    }

    void turnedRectangleIsNormalised()
    {
        // 20..30 x 40..60 points on a page turned a quarter: its corners swap.
        const QRectF r = onePage(1, QRect(10, 20, 100, 50)).toViewport(0, QRectF(20, 40, 10, 20));
        QCOMPARE(r, QRectF(80, 30, 10, 5));
    }

    void pageAndLinkUnderThePointer_data()
    {
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("linkTarget"); // -1: no link there
        // Scrolled down by 50: page 0 shows at y -42..57, page 1 at 66..165.
        // Page 1 has a link to page 7 over its points 0..50 x 0..50.
        QTest::newRow("on the first page") << QPoint(20, 20) << 0 << -1;
        QTest::newRow("in the gap between pages") << QPoint(20, 60) << -1 << -1;
        QTest::newRow("beside the pages") << QPoint(5, 100) << -1 << -1;
        QTest::newRow("on the link") << QPoint(30, 80) << 1 << 7;
        QTest::newRow("on the page, off the link") << QPoint(90, 150) << 1 << -1;
        QTest::newRow("the link's far edge") << QPoint(60, 116) << 1 << 7;
    }
    void pageAndLinkUnderThePointer()
    {
        QFETCH(QPoint, pos);
        QFETCH(int, page);
        QFETCH(int, linkTarget);
        const PageViewGeometry g = twoPages(QPoint(0, 50));
        QCOMPARE(g.pageAt(pos), page);
        PdfLinkInfo link;
        link.rect = QRectF(0, 0, 50, 50);
        link.page = 7;
        const QHash<int, QList<PdfLinkInfo>> links{{1, {link}}};
        const auto found = g.linkAt(pos, links);
        QCOMPARE(found ? found->page : -1, linkTarget);
        // Links of a page not yet fetched are not found.
        QVERIFY(!g.linkAt(pos, {}));
    }

    void scrollTargets_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QPointF>("location");
        QTest::addColumn<bool>("singlePage");
        QTest::addColumn<int>("target");
        QTest::newRow("a page to the top, its margin above") << 1 << QPointF(-1, -1) << false << 108;
        QTest::newRow("a point of a page to the top") << 1 << QPointF(0, 50) << false << 158;
        QTest::newRow("single page: its top") << 1 << QPointF(-1, -1) << true << 0;
        QTest::newRow("single page: a point of it") << 1 << QPointF(0, 50) << true << 158;
        QTest::newRow("a location without x is no location") << 1 << QPointF(-1, 50) << false << 108;
    }
    void scrollTargets()
    {
        QFETCH(int, page);
        QFETCH(QPointF, location);
        QFETCH(bool, singlePage);
        QFETCH(int, target);
        // The same target from any scroll position.
        QCOMPARE(twoPages(QPoint(0, 50)).pageScrollTarget(page, location, singlePage), target);
        QCOMPARE(twoPages(QPoint(0, 0)).pageScrollTarget(page, location, singlePage), target);
    }

    void findHitIsCentred()
    {
        PdfSearchHit hit;
        hit.page = 1;
        hit.rects = {QRectF(0, 40, 10, 20), QRectF(0, 90, 10, 10)};
        // The first rectangle's centre (content y 166) in the middle of a 300 pixel view.
        QCOMPARE(twoPages(QPoint(0, 50)).hitScrollTarget(hit, 300), 16);
        QCOMPARE(twoPages(QPoint(0, 0)).hitScrollTarget(hit, 300), 16);
        hit.rects.clear();
        QCOMPARE(twoPages(QPoint(0, 50)).hitScrollTarget(hit, 300), 50);
    }

    void currentPageOfContinuousLayout_data()
    {
        QTest::addColumn<int>("scroll");
        QTest::addColumn<int>("current");
        // Tops at 8, 116, 224; a third of the 300 pixel view counts, and the gap.
        QTest::newRow("top") << 0 << 0;
        QTest::newRow("the next top not yet a third down") << 7 << 0;
        QTest::newRow("the next top within the gap of a third down") << 8 << 1;
        QTest::newRow("the last page") << 200 << 2;
    }
    void currentPageOfContinuousLayout()
    {
        QFETCH(int, scroll);
        QFETCH(int, current);
        const PageViewGeometry g({QRect(0, 8, 100, 100), QRect(0, 116, 100, 100), QRect(0, 224, 100, 100)},
                                 QList<QSizeF>(3, QSizeF(100, 100)), 0, QPoint(0, scroll));
        QCOMPARE(g.currentPageAt(300, 5), current);
        QCOMPARE(PageViewGeometry().currentPageAt(300, 5), 5);
    }

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("singlePage");
        QTest::addColumn<int>("vValue"); // of a maximum of 100 (0: the page fits)
        QTest::addColumn<int>("vMaximum");
        QTest::addColumn<int>("hMaximum");
        QTest::addColumn<int>("current"); // of five pages
        QTest::addColumn<QString>("move");
        QTest::newRow("down scrolls") << int(Qt::Key_Down) << false << 0 << 100 << 0 << 2 << "scroll LineDown";
        QTest::newRow("down at the bottom, continuous, scrolls") << int(Qt::Key_Down) << false << 100 << 100 << 0 << 2 << "scroll LineDown";
        QTest::newRow("down at a single page's bottom shows the next") << int(Qt::Key_Down) << true << 100 << 100 << 0 << 2 << "show 3";
        QTest::newRow("down on a single page that fits shows the next") << int(Qt::Key_Down) << true << 0 << 0 << 0 << 2 << "show 3";
        QTest::newRow("down at the last page's bottom stays") << int(Qt::Key_Down) << true << 100 << 100 << 0 << 4 << "stay";
        QTest::newRow("up at a single page's top shows the previous from its bottom") << int(Qt::Key_Up) << true << 0 << 100 << 0 << 2 << "show 1 bottom";
        QTest::newRow("up at the first page's top stays") << int(Qt::Key_Up) << true << 0 << 100 << 0 << 0 << "stay";
        QTest::newRow("up mid-page scrolls") << int(Qt::Key_Up) << true << 50 << 100 << 0 << 2 << "scroll LineUp";
        QTest::newRow("page down mid-page scrolls a page") << int(Qt::Key_PageDown) << true << 50 << 100 << 0 << 2 << "scroll PageDown";
        QTest::newRow("space at a single page's bottom shows the next") << int(Qt::Key_Space) << true << 100 << 100 << 0 << 2 << "show 3";
        QTest::newRow("space scrolls a page") << int(Qt::Key_Space) << false << 100 << 100 << 0 << 2 << "scroll PageDown";
        QTest::newRow("page up at a single page's top shows the previous") << int(Qt::Key_PageUp) << true << 0 << 100 << 0 << 2 << "show 1 bottom";
        QTest::newRow("page up scrolls a page") << int(Qt::Key_PageUp) << false << 0 << 100 << 0 << 2 << "scroll PageUp";
        QTest::newRow("home") << int(Qt::Key_Home) << false << 50 << 100 << 0 << 2 << "go 0";
        QTest::newRow("end") << int(Qt::Key_End) << true << 50 << 100 << 0 << 2 << "go 4";
        QTest::newRow("left without a horizontal range: the page before") << int(Qt::Key_Left) << false << 0 << 100 << 0 << 2 << "go 1";
        QTest::newRow("left with a horizontal range scrolls") << int(Qt::Key_Left) << false << 0 << 100 << 30 << 2 << "scroll LineLeft";
        QTest::newRow("right without a horizontal range: the page after") << int(Qt::Key_Right) << true << 0 << 100 << 0 << 2 << "go 3";
        QTest::newRow("right with a horizontal range scrolls") << int(Qt::Key_Right) << false << 0 << 100 << 30 << 2 << "scroll LineRight";
        QTest::newRow("a letter is not the view's") << int(Qt::Key_A) << true << 100 << 100 << 0 << 2 << "unhandled";
    }
    void keys()
    {
        QFETCH(int, key);
        QFETCH(bool, singlePage);
        QFETCH(int, vValue);
        QFETCH(int, vMaximum);
        QFETCH(int, hMaximum);
        QFETCH(int, current);
        QFETCH(QString, move);
        PageViewPosition at;
        at.singlePage = singlePage;
        at.currentPage = current;
        at.pageCount = 5;
        at.vValue = vValue;
        at.vMaximum = vMaximum;
        at.hMaximum = hMaximum;
        QCOMPARE(describe(pageKeyMove(key, at)), move);
    }

    void wheel_data()
    {
        QTest::addColumn<bool>("singlePage");
        QTest::addColumn<int>("vValue"); // of a maximum of 100 unless the page fits
        QTest::addColumn<bool>("fits");
        // Events: "a-60" an angle of -60 (down), "p-30" pixels only,
        // "b-10/-120" both (pixels/angle).  Moves: "s-60" scrolls by -60
        // vertically, "e" taken up at the edge, "+1"/"-1" turns the page.
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("moves");
        QTest::newRow("continuous pages scroll") << false << 100 << false << "a-120 a-120" << "s-120 s-120";
        QTest::newRow("mid-page scrolls") << true << 50 << false << "a-120" << "s-120";
        QTest::newRow("a full notch at the bottom turns forward") << true << 100 << false << "a-120" << "+1";
        QTest::newRow("two half notches turn once") << true << 100 << false << "a-60 a-60 a-60" << "e +1 e";
        QTest::newRow("up at the top turns back") << true << 0 << false << "a120" << "-1";
        QTest::newRow("down at the top scrolls") << true << 0 << false << "a-120" << "s-120";
        QTest::newRow("scrolling between starts the count again") << true << 100 << false << "a-60 a60 a-60" << "e s60 e";
        QTest::newRow("pixels count when there is no angle") << true << 100 << false << "p-60 p-60" << "e +1";
        QTest::newRow("the angle counts at the edge, pixels scroll") << true << 100 << false << "b-10/-120 b10/120" << "+1 s10";
        QTest::newRow("a page that fits turns either way") << true << 0 << true << "a-120 a120" << "+1 -1";
    }
    void wheel()
    {
        QFETCH(bool, singlePage);
        QFETCH(int, vValue);
        QFETCH(bool, fits);
        QFETCH(QString, events);
        QFETCH(QString, moves);
        PageViewPosition at;
        at.singlePage = singlePage;
        at.vValue = vValue;
        at.vMaximum = fits ? 0 : 100;
        WheelPaging wheel;
        QStringList got;
        for (const QString &e : events.split(' ')) {
            QPoint angle, pixels;
            if (e.startsWith('a'))
                angle = QPoint(0, e.mid(1).toInt());
            else if (e.startsWith('p'))
                pixels = QPoint(0, e.mid(1).toInt());
            else {
                pixels = QPoint(0, e.mid(1).section('/', 0, 0).toInt());
                angle = QPoint(0, e.section('/', 1).toInt());
            }
            const WheelPaging::Move m = wheel.onWheel(angle, pixels, at);
            if (m.scrolls) {
                QCOMPARE(m.turn, 0);
                got << QStringLiteral("s%1").arg(m.scrollBy.y());
            } else {
                got << (m.turn == 0 ? QStringLiteral("e") : QStringLiteral("%1%2").arg(m.turn > 0 ? "+" : "").arg(m.turn));
            }
        }
        QCOMPARE(got.join(' '), moves);
    }

    void singlePageSteps()
    {
        QCOMPARE(singlePageStep(2, 1, 5).value_or(-1), 3);
        QCOMPARE(singlePageStep(2, -1, 5).value_or(-1), 1);
        QVERIFY(!singlePageStep(4, 1, 5));
        QVERIFY(!singlePageStep(0, -1, 5));
        QVERIFY(!singlePageStep(0, 1, 0));
    }

    void requestPlan_data()
    {
        QTest::addColumn<bool>("singlePage");
        QTest::addColumn<int>("scroll");
        QTest::addColumn<bool>("firstPainted");
        QTest::addColumn<qreal>("dpr");
        QTest::addColumn<QList<int>>("ready");
        QTest::addColumn<QString>("visible");
        QTest::addColumn<QString>("nearby");
        // Ten pages of 100 pixels, tops at 8 + 108 i, in a view 250 high.
        // Page 4 is landscape (200 x 100 points, 200 x 100 pixels).
        QTest::newRow("the page nearest the centre first")
            << false << 0 << false << 1.0 << QList<int>{} << "1@100x100 0@100x100 2@100x100" << "";
        QTest::newRow("on screen: the neighbours too")
            << false << 0 << true << 1.0 << QList<int>{} << "1@100x100 0@100x100 2@100x100" << "3@100x100";
        QTest::newRow("in the middle: the pages either side")
            << false << 400 << true << 1.0 << QList<int>{} << "4@200x100 5@100x100 3@100x100" << "6@100x100 2@100x100";
        QTest::newRow("drawn pages are not asked for")
            << false << 0 << false << 1.0 << QList<int>{1} << "0@100x100 2@100x100" << "";
        QTest::newRow("device pixels")
            << false << 0 << false << 2.0 << QList<int>{0, 2} << "1@200x200" << "";
        QTest::newRow("at the end nothing after the last")
            << false << 900 << true << 1.0 << QList<int>{} << "9@100x100 8@100x100" << "7@100x100";
        QTest::newRow("single page: its neighbours laid out on their own")
            << true << 0 << true << 1.0 << QList<int>{} << "3@100x100" << "4@200x100 2@100x100";
        QTest::newRow("single page before it is on screen: only itself")
            << true << 0 << false << 1.0 << QList<int>{} << "3@100x100" << "";
        QTest::newRow("single page, drawn: only the neighbours")
            << true << 0 << true << 1.0 << QList<int>{3} << "" << "4@200x100 2@100x100";
    }
    void requestPlan()
    {
        QFETCH(bool, singlePage);
        QFETCH(int, scroll);
        QFETCH(bool, firstPainted);
        QFETCH(qreal, dpr);
        QFETCH(QList<int>, ready);
        QFETCH(QString, visible);
        QFETCH(QString, nearby);
        PagePlan::View view;
        view.pageSizesPt = QList<QSizeF>(10, QSizeF(75, 75)); // 100 pixels at 100 %
        view.pageSizesPt[4] = QSizeF(150, 75);
        view.params.mode = singlePage ? PageLayout::Mode::SinglePage : PageLayout::Mode::OneColumn;
        view.params.zoom = PageLayout::Zoom::Custom;
        view.params.viewport = QSize(300, 250);
        view.params.currentPage = 3;
        view.layout = PageLayout::compute(view.pageSizesPt, view.params);
        view.visibleArea = QRect(QPoint(0, scroll), view.params.viewport);
        view.dpr = dpr;
        view.currentPage = 3;
        view.firstPainted = firstPainted;
        QList<int> asked;
        const PagePlan::Requests plan = PagePlan::plan(view, [&](int page, const QSize &px) {
            asked << page;
            // The predicate is asked at the size the page is wanted at.
            return ready.contains(page) && px == PagePlan::pixelsOf(view.layout, page, dpr);
        });
        QCOMPARE(describe(plan.visible), visible);
        QCOMPARE(describe(plan.nearby), nearby);
        QSet<int> pending;
        for (const PageRequest &r : plan.visible) {
            pending.insert(r.page);
            QCOMPARE(r.dpr, dpr);
            QCOMPARE(r.rotation, 0);
        }
        QCOMPARE(plan.pending, pending);
        for (int page : ready)
            QVERIFY(asked.contains(page));
    }

    void placeholders_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("current");
        QTest::addColumn<bool>("kept");
        QTest::newRow("the current page") << 3 << 3 << true;
        QTest::newRow("six after") << 9 << 3 << true;
        QTest::newRow("seven after") << 10 << 3 << false;
        QTest::newRow("six before") << 0 << 6 << true;
        QTest::newRow("seven before") << 0 << 7 << false;
    }
    void placeholders()
    {
        QFETCH(int, page);
        QFETCH(int, current);
        QFETCH(bool, kept);
        QCOMPARE(PagePlan::keepsPlaceholder(page, current), kept);
    }

    void exactPicture()
    {
        PageKey key;
        key.pixelSize = QSize(100, 141);
        key.rotation = 1;
        QVERIFY(PagePlan::isExact(key, QSize(100, 141), 1));
        QVERIFY(!PagePlan::isExact(key, QSize(100, 142), 1)); // another zoom
        QVERIFY(!PagePlan::isExact(key, QSize(100, 141), 0)); // drawn before a turn
    }
};

QTEST_MAIN(TestPageView)
#include "tst_pageview.moc"
