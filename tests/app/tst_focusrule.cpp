// The focus timer: while the window is active and the focus lies in a view
// control's document surface, the file list takes it back.
#include "app/FocusRule.h"
#include "app/Unit1.h"
#include "browse/FileListView.h"
#include "support/MainWindowFixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

// Stands in for a renderer's document window.
class StandInSurface : public QWidget
{
public:
    explicit StandInSurface(QWidget *parent = nullptr) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }
};

class tst_FocusRule : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void rule_data();
    void rule();
    void timerReturnsFocusToList();
    void otherWidgetsKeepFocus();
    void viewerEntryStopsTimer();

private:
    void showForm(TForm1 &form, StandInSurface *&surface);
    MainWindowFixture m_main;
};

void tst_FocusRule::initTestCase()
{
    QVERIFY(m_main.isValid());
}

void tst_FocusRule::cleanup()
{
    m_main.close();
}

void tst_FocusRule::rule_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<QString>("focus"); // surface, keeper, other, none
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("mustReturn");
    QTest::newRow("surface, active") << true << "surface" << true << true;
    QTest::newRow("surface, window not active") << false << "surface" << true << false;
    QTest::newRow("unregistered surface") << true << "surface" << false << false;
    QTest::newRow("other widget") << true << "other" << true << false;
    QTest::newRow("no focus") << true << "none" << true << false;
}

void tst_FocusRule::rule()
{
    QFETCH(bool, active);
    QFETCH(QString, focus);
    QFETCH(bool, registered);
    QWidget window;
    auto *surface = new StandInSurface(&window);
    auto *keeper = new QLineEdit(&window);
    auto *other = new QLineEdit(&window);
    const auto isSurface = [&](const QWidget *w) { return registered && w && w == surface; };
    const QWidget *focused = focus == "surface" ? static_cast<QWidget *>(surface)
                             : focus == "other" ? static_cast<QWidget *>(other) : nullptr;
    QTEST(focusMustReturn(active, isSurface(focused), keeper), "mustReturn");
    QVERIFY(!focusMustReturn(active, isSurface(focused), nullptr));
    // Focus outside every surface never has to return.
    QVERIFY(!focusMustReturn(active, false, keeper));
}

void tst_FocusRule::showForm(TForm1 &form, StandInSurface *&surface)
{
    surface = new StandInSurface;
    form.PlaceInViewerArea(surface, [surface](const QWidget *w) { return w == surface; });
    QVERIFY(form.IsDocumentSurface(surface));
    QVERIFY(!form.IsDocumentSurface(form.ListView1));
    QVERIFY(m_main.show() == &form);
}

void tst_FocusRule::timerReturnsFocusToList()
{
    TForm1 &form = *m_main.create();
    StandInSurface *surface = nullptr;
    showForm(form, surface);
    // Start-up's help document enabled the timer; begin from a stopped one.
    form.Timer1->stop();
    QTRY_VERIFY(form.ListView1->hasFocus());
    // Without the timer a surface keeps what it gets.
    surface->setFocus();
    QVERIFY(surface->hasFocus());
    form.Timer1->start(); // as every document load does
    QTRY_VERIFY(form.ListView1->hasFocus());
    // A correction does not stop the timer.
    QVERIFY(form.Timer1->isActive());
    surface->setFocus();
    QTRY_VERIFY(form.ListView1->hasFocus());
}

void tst_FocusRule::otherWidgetsKeepFocus()
{
    TForm1 &form = *m_main.create();
    StandInSurface *surface = nullptr;
    showForm(form, surface);
    form.TreeView1->setFocus();
    form.Timer1->start();
    QSignalSpy ticks(form.Timer1, &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 5);
    QVERIFY(form.TreeView1->hasFocus());
}

void tst_FocusRule::viewerEntryStopsTimer()
{
    TForm1 &form = *m_main.create();
    StandInSurface *surface = nullptr;
    showForm(form, surface);
    form.Timer1->start();
    form.AcroPDFEnter(surface);
    QVERIFY(!form.Timer1->isActive());
    surface->setFocus();
    // The next load starts it again; until then a probe timer shows nothing moves.
    QTimer probe;
    probe.setInterval(10);
    QSignalSpy ticks(&probe, &QTimer::timeout);
    probe.start();
    QTRY_VERIFY(ticks.count() >= 5);
    QVERIFY(surface->hasFocus());
    form.Timer1->start();
    form.WebBrowserEnter(surface);
    QVERIFY(!form.Timer1->isActive());
}

QTEST_MAIN(tst_FocusRule)
#include "tst_focusrule.moc"
