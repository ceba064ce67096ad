// The conversation with the render helper: every message survives its
// codec, bodies that are cut short, too long or hostile are refused, the
// channel frames messages and their descriptors, and a helper that lies in
// its answers (a real process, tests/viewer/LyingRenderHelper.cpp) gets the
// program to read, allocate or map nothing it should not.
#include "viewer/isolated/PdfEngines.h"
#include "viewer/isolated/RenderHelper.h"
#include "viewer/isolated/RenderProtocol.h"

#include "support/PdfFixtures.h"
#include "support/TestDir.h"

#include <QtTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace P = RenderProtocol;

namespace {

// ---- field-by-field equality of what the structs leave to others ----

bool same(const PdfFirstPage &a, const PdfFirstPage &b)
{
    if (a.layout.has_value() != b.layout.has_value() || a.dpr != b.dpr)
        return false;
    if (!a.layout)
        return true;
    const PageLayout::Params &x = *a.layout, &y = *b.layout;
    return x.mode == y.mode && x.zoom == y.zoom && x.customZoom == y.customZoom && x.rotation == y.rotation
           && x.viewport == y.viewport && x.currentPage == y.currentPage;
}
bool same(const P::OpenRequest &a, const P::OpenRequest &b)
{
    return a.handle == b.handle && a.password == b.password && a.firstPage.has_value() == b.firstPage.has_value()
           && (!a.firstPage || same(*a.firstPage, *b.firstPage)) && a.buffer == b.buffer && a.retired == b.retired;
}
bool same(const P::OutlineAnswer &a, const P::OutlineAnswer &b)
{
    return std::equal(a.entries.begin(), a.entries.end(), b.entries.begin(), b.entries.end(),
                      [](const PdfOutlineEntry &x, const PdfOutlineEntry &y) {
                          return x.title == y.title && x.level == y.level && x.page == y.page
                                 && x.location == y.location;
                      });
}
bool same(const P::LinksAnswer &a, const P::LinksAnswer &b)
{
    return std::equal(a.links.begin(), a.links.end(), b.links.begin(), b.links.end(),
                      [](const PdfLinkInfo &x, const PdfLinkInfo &y) {
                          return x.rect == y.rect && x.page == y.page && x.location == y.location && x.url == y.url;
                      });
}
bool same(const P::SearchAnswer &a, const P::SearchAnswer &b)
{
    return std::equal(a.hits.begin(), a.hits.end(), b.hits.begin(), b.hits.end(),
                      [](const PdfSearchHit &x, const PdfSearchHit &y) { return x.page == y.page && x.rects == y.rects; });
}
template <typename T>
bool same(const T &a, const T &b)
{
    return a == b;
}

// A message's body and whether a body decodes as that message, back to the
// same struct.
struct Message
{
    QByteArray body;
    std::function<bool(QByteArrayView)> decodesSame;
};

template <typename T>
Message message(const T &m)
{
    return {P::encode(m), [m](QByteArrayView body) {
                T back;
                return P::decode(body, &back) && same(back, m);
            }};
}

// Decodes a body as message T: whether it is taken.
template <typename T>
std::function<bool(QByteArrayView)> takenAs()
{
    return [](QByteArrayView body) {
        T m;
        return P::decode(body, &m);
    };
}

PdfFirstPage firstPageSample()
{
    PdfFirstPage f;
    PageLayout::Params p;
    p.mode = PageLayout::Mode::TwoColumnLeft;
    p.zoom = PageLayout::Zoom::Custom;
    p.customZoom = 1.5;
    p.rotation = 3;
    p.viewport = QSize(1024, 700);
    p.currentPage = 4;
    f.layout = p;
    f.dpr = 2;
    return f;
}

// A socket pair whose ends close with it; the first end's reads time out
// every 10 ms, as the program's do.
struct SocketPair
{
    SocketPair()
    {
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd);
        const timeval slice{0, 10000};
        setsockopt(fd[0], SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
    }
    ~SocketPair()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
    int fd[2] = {-1, -1};
};

ino_t inodeOf(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

} // namespace

Q_DECLARE_METATYPE(Message)
Q_DECLARE_METATYPE(std::function<bool(QByteArrayView)>)

class TestRenderProtocol : public QObject
{
    Q_OBJECT
    TestDir m_dir;

private slots:
    // Every request and answer, encoded and decoded again, is the same;
    // the same body cut short anywhere, or with anything after it, is
    // refused, as is the body of any other message.
    void messagesRoundTrip_data()
    {
        QTest::addColumn<Message>("message");
        const QPolygonF triangle{QPointF(0, 0), QPointF(1.5, 0), QPointF(0, 2.25)};
        P::OpenRequest open{7, QStringLiteral("パスワード"), firstPageSample(), {12, true}, {3, 4, 5}};
        QTest::newRow("open with a first page") << message(open);
        QTest::newRow("open, nothing drawn ahead") << message(P::OpenRequest{8, {}, std::nullopt, {}, {}});
        QTest::newRow("close") << message(P::CloseRequest{9});
        QTest::newRow("sizes") << message(P::SizesRequest{9, 32, 32});
        QTest::newRow("render, buffer attached")
            << message(P::RenderRequest{9, 2, QSize(600, 800), 1, {40, true}, {}});
        QTest::newRow("render, buffer known, two retired")
            << message(P::RenderRequest{9, 0, QSize(61, 79), 3, {41, false}, {38, 39}});
        QTest::newRow("render, a band of a page larger than shared memory")
            << message(P::RenderRequest{9, 4, QSize(20000, 30000), 0, {42, true}, {}, 12000, 800});
        QTest::newRow("outline") << message(P::OutlineRequest{9});
        QTest::newRow("links") << message(P::LinksRequest{9, 5});
        QTest::newRow("search") << message(P::SearchRequest{9, QStringLiteral("Zürich 東京")});
        QTest::newRow("selection") << message(P::SelectionRequest{9, 1, QPointF(1.5, 2), QPointF(300, 400.25)});
        QTest::newRow("ping") << message(P::PingRequest{});
        QTest::newRow("probe") << message(P::ProbeRequest{});
        QTest::newRow("hello") << message(P::Hello{6, true, false, QStringLiteral("seccomp unavailable")});
        QTest::newRow("open answer, first page drawn")
            << message(P::OpenAnswer{PdfOpenStatus::Ok, 70, QSizeF(612, 792), QStringLiteral("題名"), QSize(800, 1035)});
        QTest::newRow("open answer, wrong password")
            << message(P::OpenAnswer{PdfOpenStatus::WrongPassword, 0, QSizeF(), QString(), QSize()});
        QTest::newRow("sizes answer") << message(P::SizesAnswer{{QSizeF(612, 792), QSizeF(842, 595)}});
        QTest::newRow("render answer") << message(P::RenderAnswer{QSize(600, 800)});
        QTest::newRow("outline answer")
            << message(P::OutlineAnswer{{{QStringLiteral("第1章"), 0, 0, QPointF(0, 10)},
                                         {QStringLiteral("1.1"), 1, -1, QPointF()}}});
        QTest::newRow("links answer")
            << message(P::LinksAnswer{{{QRectF(10, 20, 30, 40), 3, QPointF(0, 5), QUrl()},
                                       {QRectF(1, 2, 3, 4), -1, QPointF(), QUrl(QStringLiteral("https://example.org/a?b=c"))}}});
        QTest::newRow("search answer")
            << message(P::SearchAnswer{{{0, {QRectF(1, 2, 3, 4), QRectF(5, 6, 7, 8)}}, {4, {}}}});
        QTest::newRow("selection answer") << message(P::SelectionAnswer{QStringLiteral("選択"), {triangle, triangle}});
        QTest::newRow("ping answer") << message(P::PingAnswer{});
        QTest::newRow("probe answer") << message(P::ProbeAnswer{{{QStringLiteral("read /etc/passwd"), 13}}});
    }
    void messagesRoundTrip()
    {
        QFETCH(Message, message);
        QVERIFY(message.decodesSame(message.body));
        for (qsizetype n = 0; n < message.body.size(); ++n)
            QVERIFY2(!message.decodesSame(message.body.first(n)), qPrintable(QStringLiteral("cut to %1 bytes").arg(n)));
        QVERIFY(!message.decodesSame(message.body + '\0'));
        QVERIFY(!message.decodesSame(P::refusal()));
        QVERIFY(!message.decodesSame(P::encode(P::CloseRequest{9}) + QByteArray(8, '\0')));
    }

    // Bodies whose framing is sound but whose values no honest side sends:
    // counts that would reserve memory the message does not hold, sizes no
    // page has, states that do not go together.
    void hostileBodiesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::function<bool(QByteArrayView)>>("taken");
        const quint8 done = 1;
        const auto openAnswer = [done](qint32 status, qint32 pages, QSize drawn) {
            return P::write(done, status, pages, QSizeF(612, 792), QString(), drawn);
        };
        QTest::newRow("open answer: no such status") << openAnswer(99, 1, QSize()) << takenAs<P::OpenAnswer>();
        QTest::newRow("open answer: opened without pages") << openAnswer(0, 0, QSize()) << takenAs<P::OpenAnswer>();
        QTest::newRow("open answer: more pages than any document")
            << openAnswer(0, P::maxPages + 1, QSize()) << takenAs<P::OpenAnswer>();
        QTest::newRow("open answer: a page beyond shared memory")
            << openAnswer(0, 1, QSize(20000, 20000)) << takenAs<P::OpenAnswer>();
        QTest::newRow("open answer: drawn, yet not opened")
            << openAnswer(qint32(PdfOpenStatus::NeedsPassword), 0, QSize(10, 10)) << takenAs<P::OpenAnswer>();
        QTest::newRow("open answer: a title of two billion characters")
            << P::write(done, qint32(0), qint32(1), QSizeF(612, 792), quint32(0xfffffff0u)) << takenAs<P::OpenAnswer>();
        QTest::newRow("render answer: negative size") << P::write(done, QSize(-5, 10)) << takenAs<P::RenderAnswer>();
        QTest::newRow("render answer: nothing drawn") << P::write(done, QSize()) << takenAs<P::RenderAnswer>();
        QTest::newRow("sizes answer: more sizes than asked for at most")
            << P::write(done, QList<QSizeF>(P::maxSizesPerAnswer + 1, QSizeF(1, 1))) << takenAs<P::SizesAnswer>();
        QTest::newRow("sizes answer: a count of 4 billion")
            << P::write(done, quint32(0xfffffff0u), QSizeF(1, 1)) << takenAs<P::SizesAnswer>();
        QTest::newRow("outline answer: a count past the end")
            << P::write(done, quint32(1000), QString(), qint32(0), qint32(0), QPointF()) << takenAs<P::OutlineAnswer>();
        QTest::newRow("outline answer: negative level")
            << P::write(done, quint32(1), QString(), qint32(-1), qint32(0), QPointF()) << takenAs<P::OutlineAnswer>();
        QTest::newRow("links answer: a count of 4 billion")
            << P::write(done, quint32(0xfffffff0u), QRectF(), qint32(0), QPointF(), QUrl()) << takenAs<P::LinksAnswer>();
        QTest::newRow("search answer: a hit of 4 billion rectangles")
            << P::write(done, quint32(1), qint32(0), quint32(0xfffffff0u), QRectF()) << takenAs<P::SearchAnswer>();
        QTest::newRow("search answer: a hit on page -1")
            << P::write(done, quint32(1), qint32(-1), QList<QRectF>()) << takenAs<P::SearchAnswer>();
        QTest::newRow("selection answer: a polygon of 4 billion points")
            << P::write(done, QString(), quint32(1), quint32(0xfffffff0u), QPointF()) << takenAs<P::SelectionAnswer>();
        QTest::newRow("probe answer: a count past the end")
            << P::write(done, quint32(64), QString(), qint32(0)) << takenAs<P::ProbeAnswer>();
        QTest::newRow("hello: negative Landlock ABI")
            << P::write(done, qint32(-1), true, true, QString()) << takenAs<P::Hello>();
        QTest::newRow("render: no pixels")
            << P::write(quint8(P::Op::Render), quint32(1), qint32(0), QSize(0, 0), qint32(0), quint32(0), false,
                        QList<quint32>(), qint32(0), qint32(0))
            << takenAs<P::RenderRequest>();
        QTest::newRow("render: a page beyond shared memory")
            << P::write(quint8(P::Op::Render), quint32(1), qint32(0), QSize(20000, 20000), qint32(0), quint32(0),
                        false, QList<quint32>(), qint32(0), qint32(0))
            << takenAs<P::RenderRequest>();
        QTest::newRow("render: a buffer attached without an id")
            << P::write(quint8(P::Op::Render), quint32(1), qint32(0), QSize(10, 10), qint32(0), quint32(0), true,
                        QList<quint32>(), qint32(0), qint32(0))
            << takenAs<P::RenderRequest>();
        QTest::newRow("render: more retired than a request carries")
            << P::write(quint8(P::Op::Render), quint32(1), qint32(0), QSize(10, 10), qint32(0), quint32(0), false,
                        QList<quint32>(P::maxRetiredPerRequest + 1, 1u), qint32(0), qint32(0))
            << takenAs<P::RenderRequest>();
        const auto band = [](QSize pixels, qint32 rotation, qint32 top, qint32 rows) {
            return P::write(quint8(P::Op::Render), quint32(1), qint32(0), pixels, rotation, quint32(0), false,
                            QList<quint32>(), top, rows);
        };
        QTest::newRow("render: a band reaching past the page")
            << band(QSize(100, 100), 0, 60, 41) << takenAs<P::RenderRequest>();
        QTest::newRow("render: a band of a turned page") << band(QSize(100, 100), 1, 0, 10) << takenAs<P::RenderRequest>();
        QTest::newRow("render: a band beyond shared memory")
            << band(QSize(100000, 100000), 0, 0, 2000) << takenAs<P::RenderRequest>();
        QTest::newRow("render: a band of a page wider than any")
            << band(QSize(P::maxBandedSide + 1, 10), 0, 0, 1) << takenAs<P::RenderRequest>();
        QTest::newRow("render: a whole page starting below its top")
            << band(QSize(100, 100), 0, 5, 0) << takenAs<P::RenderRequest>();
        QTest::newRow("search: text beyond the limit")
            << P::write(quint8(P::Op::Search), quint32(1), QString(P::maxRequestTextChars + 1, QLatin1Char('x')))
            << takenAs<P::SearchRequest>();
        QTest::newRow("sizes: none asked for")
            << P::write(quint8(P::Op::Sizes), quint32(1), qint32(0), qint32(0)) << takenAs<P::SizesRequest>();
        QTest::newRow("a request taken for another")
            << P::encode(P::LinksRequest{1, 2}) << takenAs<P::OutlineRequest>();
        QTest::newRow("an answer refused") << P::refusal() << takenAs<P::PingAnswer>();
        QTest::newRow("garbage") << QByteArray("\x01\xff\xff\xff\xff\xff\xff\xff\xff\xff", 10) << takenAs<P::OpenAnswer>();
    }
    void hostileBodiesAreRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(std::function<bool(QByteArrayView)>, taken);
        QVERIFY(!taken(body));
    }

    // An open whose first-page layout is out of range still opens: only the
    // page is left out.
    void outOfRangeLayoutOnlyDropsTheFirstPage()
    {
        PdfFirstPage wild = firstPageSample();
        wild.layout->customZoom = 1000;
        P::OpenRequest open{3, {}, wild, {5, true}, {}};
        P::OpenRequest back;
        QVERIFY(P::decode(P::encode(open), &back));
        QVERIFY(!back.firstPage);
        QCOMPARE(back.buffer, open.buffer);
        QCOMPARE(back.fdCount(), size_t(2));
    }

    // Messages sent back to back come out one by one, each with its own
    // descriptors, also when one read brings several; a large one comes
    // whole.
    void channelFramesMessagesAndDescriptors()
    {
        SocketPair pair;
        P::Channel writer(pair.fd[1]), reader(pair.fd[0]);
        const int a = memfd_create("first", MFD_CLOEXEC), b = memfd_create("second", MFD_CLOEXEC),
                  c = memfd_create("third", MFD_CLOEXEC);
        const QByteArray large(3 << 20, 'x');
        QVERIFY(writer.send(P::encode(P::CloseRequest{1})));
        QVERIFY(writer.send(P::encode(P::RenderRequest{1, 0, QSize(10, 10), 0, {7, true}, {}}), {a}));
        QVERIFY(writer.send("two descriptors", {b, c}));
        const ino_t inodes[] = {inodeOf(a), inodeOf(b), inodeOf(c)};
        for (int fd : {a, b, c})
            ::close(fd);
        QByteArray body;
        std::vector<int> fds;
        QVERIFY(reader.receive(&body, &fds));
        QCOMPARE(body, P::encode(P::CloseRequest{1}));
        QCOMPARE(fds.size(), size_t(0));
        QVERIFY(reader.receive(&body, &fds));
        P::RenderRequest render;
        QVERIFY(P::decode(body, &render));
        QCOMPARE(fds.size(), size_t(1));
        QCOMPARE(inodeOf(fds.at(0)), inodes[0]);
        fds.clear();
        QVERIFY(reader.receive(&body, &fds));
        QCOMPARE(body, QByteArray("two descriptors"));
        QCOMPARE(fds.size(), size_t(2));
        QCOMPARE(inodeOf(fds.at(0)), inodes[1]);
        QCOMPARE(inodeOf(fds.at(1)), inodes[2]);
        for (int fd : fds)
            ::close(fd);
        QVERIFY(!reader.hasBuffered());

        std::thread send([&] { writer.send(large); });
        QVERIFY(reader.receive(&body, nullptr));
        send.join();
        QCOMPARE(body.size(), large.size());
        QVERIFY(body == large);
    }

    // A frame that says more than it may, or than it carries, is refused
    // before anything is reserved for it; so is a peer that trickles a
    // message out, once its time is up; a peer that has gone is told apart.
    void channelRefusesWhatNoPeerSends()
    {
        const auto frame = [](quint32 bytes, quint32 fds) {
            QByteArray f(8, Qt::Uninitialized);
            std::memcpy(f.data(), &bytes, 4);
            std::memcpy(f.data() + 4, &fds, 4);
            return f;
        };
        {
            SocketPair pair;
            P::Channel reader(pair.fd[0]);
            const QByteArray f = frame(P::maxMessageBytes + 1, 0);
            QCOMPARE(::write(pair.fd[1], f.constData(), size_t(f.size())), ssize_t(f.size()));
            QByteArray body;
            QVERIFY(!reader.receive(&body, nullptr));
            QVERIFY(body.isEmpty());
        }
        {
            SocketPair pair;
            P::Channel reader(pair.fd[0]);
            const QByteArray f = frame(2, 1) + "ab"; // a descriptor said, none sent
            QCOMPARE(::write(pair.fd[1], f.constData(), size_t(f.size())), ssize_t(f.size()));
            QByteArray body;
            QVERIFY(!reader.receive(&body, nullptr));
        }
        {
            SocketPair pair;
            P::Channel reader(pair.fd[0]);
            std::atomic<bool> stop{false};
            std::thread trickle([&] {
                const QByteArray f = frame(1 << 20, 0);
                ::write(pair.fd[1], f.constData(), size_t(f.size()));
                while (!stop) {
                    ::write(pair.fd[1], "x", 1);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
            QElapsedTimer clock;
            clock.start();
            QByteArray body;
            bool timedOut = false;
            const bool got = reader.receive(&body, nullptr, [&] { return 300 - clock.elapsed(); }, &timedOut);
            stop = true;
            trickle.join();
            QVERIFY(!got);
            QVERIFY(timedOut);
        }
        {
            SocketPair pair;
            P::Channel writer(pair.fd[1]);
            ::close(pair.fd[0]);
            pair.fd[0] = -1;
            bool gone = false;
            QVERIFY(!writer.send(P::encode(P::PingRequest{}), {}, &gone));
            QVERIFY(gone);
        }
    }

    // A helper that lies in every answer: the program takes no page larger
    // than the memory it lent, no more page sizes than it asked for, no page
    // the document does not have, and a helper that answers more than it
    // was asked is let go of.
    void lyingHelperGetsNothingPastItsBounds()
    {
        const QString path = m_dir.path("three.pdf");
        QVERIFY(PdfFixtures::writeSimplePdf(path, 3));
        // Read each time a helper starts.
        qputenv("SHEAFLINE_RENDER_HELPER", SHEAFLINE_LYING_HELPER);
        const auto unset = qScopeGuard([] { qunsetenv("SHEAFLINE_RENDER_HELPER"); });
        PdfEngines engines(PdfEngines::Kind::Isolated);
        QVERIFY(engines.helper());
        const auto engine = engines.create();
        PdfFirstPage first;
        first.layout = PageLayout::Params{};
        first.layout->viewport = QSize(640, 480);
        QImage firstPage;
        QCOMPARE(engine->openWithFirstPage(path, {}, first, &firstPage), PdfOpenStatus::Ok);
        // The helper says it drew 8000 by 8000 pixels into a buffer made for
        // a Letter page.
        QVERIFY(firstPage.isNull());
        QCOMPARE(engine->pageCount(), 3);
        // It answers 4096 sizes where two were asked for.
        const QList<QSizeF> sizes = engine->pageSizes();
        QCOMPARE(sizes.size(), 3);
        QCOMPARE(sizes.at(1), QSizeF(100, 100));
        // A page drawn at another size than asked for is no page.
        QVERIFY(engine->render(0, QSize(60, 80), 0).isNull());
        // Targets past the document's end are none; hits there are dropped.
        const QList<PdfOutlineEntry> outline = engine->outline();
        QCOMPARE(outline.size(), 1);
        QCOMPARE(outline.first().page, -1);
        const QList<PdfLinkInfo> links = engine->links(0);
        QCOMPARE(links.size(), 1);
        QCOMPARE(links.first().page, -1);
        QCOMPARE(engine->search(QStringLiteral("x")).size(), 1);
        QVERIFY(!engine->failed());
        const pid_t liar = engines.helper()->pid();
        QVERIFY(liar > 0);
        // It answers a selection with two frames: the helper is let go of,
        // and the document with it.
        QList<QPolygonF> bounds;
        QCOMPARE(engine->selectText(0, QPointF(), QPointF(10, 10), &bounds), QString());
        QVERIFY(engine->failed());
        QCOMPARE(engines.helper()->pid(), 0);
        QCOMPARE(::kill(liar, 0), -1);
    }
};

QTEST_MAIN(TestRenderProtocol)
#include "tst_renderprotocol.moc"
