// The order the render service serves its requests in, the hold on
// preparation, and which requests each kind of drop takes out.
#include "viewer/RenderQueue.h"

#include <QtTest>

namespace {

using namespace RenderRequest;

// A request written as a word: "open", "close", "closeAll", "measure",
// "outline", "links", "search", "selection", "trim", "prepare:p",
// "picture:p" (on screen), "picture-:p" (not), "V3.0" (page 3 of the
// Visible group at rank 0; N for Nearby, T for the side pane's Thumbnail),
// each of document 1, or of document 2 with "@2" after it.
Any parse(QString word)
{
    quint64 doc = 1;
    if (word.endsWith("@2")) {
        doc = 2;
        word.chop(2);
    }
    if (word == "open") return Open{doc, "f"};
    if (word == "close") return Close{doc};
    if (word == "closeAll") return CloseAll{};
    if (word == "measure") return Measure{doc};
    if (word == "outline") return Outline{doc};
    if (word == "links") return Links{doc, 0};
    if (word == "search") return Search{doc, "x"};
    if (word == "selection") return Selection{doc, 0, {}, {}};
    if (word == "trim") return TrimPrepared{};
    if (word.startsWith("prepare:")) return Prepare{word.mid(8)};
    if (word.startsWith("picture:")) return FilePicture{word.mid(8), 128, true};
    if (word.startsWith("picture-:")) return FilePicture{word.mid(9), 128, false};
    const PageGroup group = word.startsWith('V') ? PageGroup::Visible
                            : word.startsWith('N') ? PageGroup::Nearby : PageGroup::Thumbnail;
    const QStringList parts = word.mid(1).split('.');
    return Page{doc, group, parts.at(1).toInt(), PageRequest{parts.at(0).toInt(), QSize(10, 10)}};
}

QString wordOf(const Any &request)
{
    const quint64 doc = docIdOf(request);
    const QString suffix = doc == 2 ? QStringLiteral("@2") : QString();
    if (const auto *page = std::get_if<Page>(&request)) {
        const char group = page->group == PageGroup::Visible ? 'V' : page->group == PageGroup::Nearby ? 'N' : 'T';
        return QStringLiteral("%1%2.%3").arg(QChar(group)).arg(page->page.page).arg(page->rank) + suffix;
    }
    if (const auto *prepare = std::get_if<Prepare>(&request))
        return "prepare:" + prepare->path;
    if (const auto *picture = std::get_if<FilePicture>(&request))
        return (picture->onScreen ? "picture:" : "picture-:") + picture->path;
    static const char *const names[] = {"open", "measure", "", "outline", "links", "search",
                                        "selection", "close", "closeAll", "", "trim", ""};
    return QString::fromLatin1(names[request.index()]) + suffix;
}

void pushAll(RenderQueue &queue, const QString &words)
{
    for (const QString &word : words.split(' ', Qt::SkipEmptyParts))
        queue.push(parse(word));
}

QString takeAll(RenderQueue &queue, RenderQueue::Lane lane)
{
    QStringList out;
    while (const auto request = queue.take(lane))
        out << wordOf(*request);
    return out.join(' ');
}

} // namespace

class TestRenderQueue : public QObject
{
    Q_OBJECT
private slots:
    void order_data()
    {
        QTest::addColumn<QString>("pushed");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("worker");       // what the worker takes, in order
        QTest::addColumn<QString>("filePictures"); // what the second thread takes then
        QTest::newRow("each kind in its place")
            << "picture:a prepare:p trim T5.0 N4.0 search outline measure V2.0 open close" << false
            << "close open V2.0 measure outline search N4.0 T5.0 prepare:p trim" << "picture:a";
        QTest::newRow("a page list in the order asked")
            << "V3.0 V1.1 V2.2" << false << "V3.0 V1.1 V2.2" << "";
        QTest::newRow("past the tenth, pages share a place with measuring")
            << "V8.8 V10.10 measure V9.9 V0.0" << false << "V0.0 V8.8 V10.10 measure V9.9" << "";
        QTest::newRow("the same place keeps arrival order")
            << "selection@2 links outline selection" << false << "selection@2 links outline selection" << "";
        QTest::newRow("a search after the other text requests") << "search outline" << false << "outline search" << "";
        QTest::newRow("held preparation is passed over")
            << "prepare:p V0.0 trim closeAll" << true << "closeAll V0.0" << "";
        QTest::newRow("file pictures on screen before the others")
            << "picture-:a picture:b picture-:c picture:d" << false << "" << "picture:b picture:d picture-:a picture-:c";
    }
    void order()
    {
        QFETCH(QString, pushed);
        QFETCH(bool, held);
        QFETCH(QString, worker);
        QFETCH(QString, filePictures);
        RenderQueue queue;
        queue.holdPreparation(held);
        pushAll(queue, pushed);
        QCOMPARE(takeAll(queue, RenderQueue::Lane::Worker), worker);
        QCOMPARE(takeAll(queue, RenderQueue::Lane::FilePictures), filePictures);
        // Held preparation stays, and keeps the file pictures waiting.
        QCOMPARE(queue.hasWorkerRequest(), held);
        QCOMPARE(queue.hasPreparation(), held);
        if (held) {
            queue.holdPreparation(false);
            QCOMPARE(takeAll(queue, RenderQueue::Lane::Worker), QString("prepare:p trim"));
        }
        QCOMPARE(queue.size(), 0);
    }

    void drops_data()
    {
        QTest::addColumn<QString>("pushed");
        QTest::addColumn<QString>("drop");
        QTest::addColumn<QString>("left"); // both lanes, worker first
        QTest::addColumn<QString>("dropped"); // the file pictures' paths
        const QString mixed = "open@2 V0.0 N1.0 T2.0 V0.0@2 search links selection close search@2 prepare:p "
                              "prepare:q trim picture:a measure";
        QTest::newRow("a document all but its close")
            << mixed << "document" << "close open@2 V0.0@2 search@2 prepare:p prepare:q trim picture:a" << "";
        QTest::newRow("one group of a document's pages")
            << mixed << "visible"
            << "close open@2 V0.0@2 measure links selection search search@2 N1.0 T2.0 prepare:p prepare:q trim picture:a"
            << "";
        QTest::newRow("a document's search")
            << mixed << "search"
            << "close open@2 V0.0 V0.0@2 measure links selection search@2 N1.0 T2.0 prepare:p prepare:q trim picture:a"
            << "";
        QTest::newRow("a document's selection")
            << mixed << "selection"
            << "close open@2 V0.0 V0.0@2 measure links search search@2 N1.0 T2.0 prepare:p prepare:q trim picture:a"
            << "";
        QTest::newRow("all preparation")
            << mixed << "preparation"
            << "close open@2 V0.0 V0.0@2 measure links selection search search@2 N1.0 T2.0 picture:a" << "";
        QTest::newRow("one file's preparation")
            << mixed << "preparation of p"
            << "close open@2 V0.0 V0.0@2 measure links selection search search@2 N1.0 T2.0 prepare:q trim picture:a"
            << "";
        QTest::newRow("for closing everything") << mixed << "closeAll" << "close picture:a" << "";
        QTest::newRow("file pictures, paths in queue order")
            << "picture:a open picture-:b picture:c" << "filePictures" << "open" << "a b c";
    }
    void drops()
    {
        QFETCH(QString, pushed);
        QFETCH(QString, drop);
        QFETCH(QString, left);
        QFETCH(QString, dropped);
        RenderQueue queue;
        pushAll(queue, pushed);
        QStringList paths;
        if (drop == "document")
            queue.dropDocument(1);
        else if (drop == "visible")
            queue.dropPages(1, PageGroup::Visible);
        else if (drop == "search")
            queue.dropSearch(1);
        else if (drop == "selection")
            queue.dropSelection(1);
        else if (drop == "preparation")
            queue.dropPreparation();
        else if (drop == "preparation of p")
            queue.dropPreparationOf("p");
        else if (drop == "closeAll")
            queue.dropForCloseAll();
        else if (drop == "filePictures")
            paths = queue.dropFilePictures();
        QStringList taken{takeAll(queue, RenderQueue::Lane::Worker), takeAll(queue, RenderQueue::Lane::FilePictures)};
        taken.removeAll(QString());
        QCOMPARE(taken.join(' '), left);
        QCOMPARE(paths.join(' '), dropped);
    }
};

QTEST_MAIN(TestRenderQueue)
#include "tst_renderqueue.moc"
