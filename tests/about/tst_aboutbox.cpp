// The About box: its strings from the version block, layout and the link.
#include "about/About.h"
#include "base/VersionInfo.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>

// Takes the addresses the box hands to the browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// Every control of the box lies inside its panel.
static bool Panel1Contains(const TAboutBox &box, const QWidget *w)
{
    const QWidget *panel = w->parentWidget();
    return w == box.Panel1 || w == box.Panel3 || QRect(QPoint(0, 0), panel->size()).contains(w->geometry());
}

class tst_AboutBox : public QObject
{
    Q_OBJECT
private slots:
    void strings();
    void layout_data();
    void layout();
    void sameStringsEachOpening();
    void linkOpensHomePageAndStays();
    void okCloses();
};

void tst_AboutBox::strings()
{
    TAboutBox box;
    QCOMPARE(box.p_PROGRAM, QString("Sheafline"));
    QCOMPARE(box.p_VERSION, QString(SHEAFLINE_EXPECTED_VERSION));
    QCOMPARE(box.p_COPYRIGHT, GetVersionInfoItem(5));
    // The placeholders hold until the box is shown.
    QCOMPARE(box.Label1->text(), QString("Label1"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.windowTitle(), QString("バージョン情報"));
    QCOMPARE(box.Label1->text(), QString("Sheafline"));
    QCOMPARE(box.Label2->text(), QString(" " SHEAFLINE_EXPECTED_VERSION));
    QCOMPARE(box.Label3->text(), " " + GetVersionInfoItem(5));
    QVERIFY(!GetVersionInfoItem(5).isEmpty());
    QCOMPARE(box.Label4->toPlainText(), GetVersionInfoItem(0));
    QVERIFY(!box.Label4->toPlainText().isEmpty());
    QCOMPARE(box.ProductName->text(), QString("製品名: "));
    QCOMPARE(box.Version->text(), QString("バージョン"));
    QCOMPARE(box.Copyright->text(), QString("Copyright"));
    QCOMPARE(box.Comments->text(), QString("コメント"));
    QCOMPARE(box.Label5->text(), QString("ソフトウェアについて（作者ホームページを表示します）"));
    QCOMPARE(box.OKButton->text(), QString("OK"));
    QVERIFY(box.OKButton->isDefault());
    QVERIFY(!box.ProgramIcon->pixmap().isNull());
    QCOMPARE(box.Label5->palette().color(QPalette::WindowText), QColor(Qt::blue));
}

void tst_AboutBox::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // width/height -1: fits its text
    QTest::newRow("Panel1") << "Panel1" << QRect(8, 8, 281, 177);
    QTest::newRow("ProgramIcon") << "ProgramIcon" << QRect(8, 8, 65, 57);
    QTest::newRow("ProductName") << "ProductName" << QRect(88, 16, -1, -1);
    QTest::newRow("Label1") << "Label1" << QRect(128, 16, -1, -1);
    QTest::newRow("Version") << "Version" << QRect(88, 40, -1, -1);
    QTest::newRow("Label2") << "Label2" << QRect(128, 40, -1, -1);
    QTest::newRow("Copyright") << "Copyright" << QRect(8, 80, -1, -1);
    QTest::newRow("Label3") << "Label3" << QRect(58, 80, -1, -1);
    QTest::newRow("Comments") << "Comments" << QRect(8, 99, -1, -1);
    QTest::newRow("Label4") << "Label4" << QRect(42, 99, 225, 46);
    QTest::newRow("Label5") << "Label5" << QRect(8, 151, -1, -1);
    QTest::newRow("OKButton") << "OKButton" << QRect(8, 10, 75, 25);
}

void tst_AboutBox::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    TAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto *w = box.findChild<QWidget *>(name);
    QVERIFY(w);
    // Values and the comment box move right of a caption that this system's
    // font draws wider than designed; nothing overlaps its caption.
    const QMap<QString, QString> captionOf{
        {"Label1", "ProductName"}, {"Label2", "Version"}, {"Label3", "Copyright"}, {"Label4", "Comments"}};
    if (captionOf.contains(name)) {
        const QWidget *caption = box.findChild<QWidget *>(captionOf[name]);
        QCOMPARE(w->y(), geometry.y());
        QVERIFY(w->x() >= geometry.x());
        QVERIFY(w->x() == geometry.x() || w->x() <= caption->geometry().right() + 3);
        QVERIFY(!w->geometry().intersects(caption->geometry()));
        if (name == "Label4")
            QCOMPARE(w->geometry().right(), geometry.right());
    } else {
        QCOMPARE(w->pos(), geometry.topLeft());
        if (geometry.width() > 0)
            QCOMPARE(w->size(), geometry.size());
    }
    QVERIFY(Panel1Contains(box, w));
    QCOMPARE(box.width(), 298);
    QCOMPARE(box.minimumSize(), box.maximumSize()); // not resizable
    QCOMPARE(box.Panel3->height(), 41);
    QCOMPARE(box.Panel3->geometry().bottom(), box.rect().bottom());
    QCOMPARE(box.Panel3->width(), box.width());
}

void tst_AboutBox::sameStringsEachOpening()
{
    QStringList first;
    QStringList second;
    for (QStringList *out : {&first, &second}) {
        TAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        *out << box.Label1->text() << box.Label2->text() << box.Label3->text() << box.Label4->toPlainText();
    }
    QCOMPARE(first, second);
    QVERIFY(!first.first().startsWith(' '));
}

void tst_AboutBox::linkOpensHomePageAndStays()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    TAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(box.Label5, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.first(), QUrl("https://sheafline.example/?page_id=538"));
    QVERIFY(box.isVisible());
    QCOMPARE(box.result(), 0);
}

void tst_AboutBox::okCloses()
{
    TAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::keyClick(&box, Qt::Key_Return);
    QVERIFY(!box.isVisible());
    QCOMPARE(box.result(), int(QDialog::Accepted));
}

QTEST_MAIN(tst_AboutBox)
#include "tst_aboutbox.moc"
