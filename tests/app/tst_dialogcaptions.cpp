// What the window system shows as the caption of each of the program's
// windows, read back from the X server, and Qt's own dialog texts in
// Japanese whatever the locale.  Runs under a real X server (xvfb-run).
#include "about/About.h"
#include "app/ErrorBox.h"
#include "app/SheaflineApplication.h"
#include "app/Unit1.h"
#include "app/MessageBoxes.h"
#include "browse/FolderPicker.h"
#include "browse/RenameF.h"

#include "support/MainWindowFixture.h"
#include "support/ModalHelper.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <functional>
#include <memory>

namespace {

// One text property of an X window as xprop prints it, without quotes;
// empty when it cannot be read.
QString xProperty(WId window, const char *name)
{
    QProcess xprop;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    xprop.setProcessEnvironment(env);
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-id"), QString::number(window), QStringLiteral("-notype"),
                 QString::fromLatin1(name)});
    if (!xprop.waitForFinished(10000) || xprop.exitCode() != 0)
        return {};
    // name = "text"
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const qsizetype first = out.indexOf(QLatin1Char('"'));
    const qsizetype last = out.lastIndexOf(QLatin1Char('"'));
    return first >= 0 && last > first ? out.mid(first + 1, last - first - 1) : QString();
}

// True when the text has a kana or kanji in it.
bool isJapanese(const QString &text)
{
    static const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]"));
    return text.contains(japanese);
}

} // namespace

class TestDialogCaptions : public QObject
{
    Q_OBJECT

    MainWindowFixture m_main;

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs a real X server");
        // The set-up the program makes at its start; the locale says English.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        SheaflineApplication::setUp();
    }

    void captionsAsShown_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("caption");
        QTest::newRow("information") << "info" << "情報";
        QTest::newRow("error") << "error" << "エラー";
        QTest::newRow("warning") << "warning" << "警告";
        QTest::newRow("confirmation") << "confirm" << "確認";
        QTest::newRow("rename dialog") << "rename" << "ファイル名の変更";
        QTest::newRow("About box") << "about" << "バージョン情報";
        QTest::newRow("folder picker") << "picker" << "検索フォルダ指定";
        QTest::newRow("application's error box") << "errorbox" << "Sheafline";
        QTest::newRow("main window") << "main" << "Sheafline";
    }
    void captionsAsShown()
    {
        QFETCH(QString, window);
        QFETCH(QString, caption);
        std::unique_ptr<QWidget> shown;
        if (window == "info")
            shown.reset(createMsgBox(MsgKind::Info, "text"));
        else if (window == "error")
            shown.reset(createMsgBox(MsgKind::Error, "text"));
        else if (window == "warning")
            shown.reset(createMsgBox(MsgKind::Warning, "text"));
        else if (window == "confirm")
            shown.reset(createMsgBox(MsgKind::Confirm, "text"));
        else if (window == "rename")
            shown.reset(new TRenameForm);
        else if (window == "about")
            shown.reset(new TAboutBox);
        else if (window == "picker")
            shown.reset(FolderPicker::create(nullptr, QDir::tempPath()));

        QString seenByWindowSystem;
        QString seenLegacy;
        const auto read = [&](QWidget *w) {
            QVERIFY(QTest::qWaitForWindowExposed(w));
            seenByWindowSystem = xProperty(w->winId(), "_NET_WM_NAME");
            seenLegacy = xProperty(w->winId(), "WM_NAME");
        };
        if (window == "errorbox") {
            // The error box runs its own loop: read it while it is open.
            ModalAnswerer ok([&](QWidget *w) {
                read(w);
                static_cast<QDialog *>(w)->done(0);
            });
            showErrorBox("failed");
            QCOMPARE(ok.seen.size(), 1);
        } else {
            QWidget *target = window == "main" ? m_main.create({m_main.dir().path()}) : shown.get();
            target->show();
            read(target);
        }
        QCOMPARE(seenByWindowSystem, caption);
        QCOMPARE(seenLegacy, caption);
    }

    void qtTextsInJapanese()
    {
        // The folder picker: every button and label that says something.
        std::unique_ptr<QFileDialog> picker(FolderPicker::create(nullptr, QDir::tempPath()));
        picker->show();
        QVERIFY(QTest::qWaitForWindowExposed(picker.get()));
        QStringList texts;
        for (const QAbstractButton *b : picker->findChildren<QAbstractButton *>()) {
            if (b->isVisible() && !b->text().isEmpty())
                texts << b->text();
        }
        for (const QLabel *l : picker->findChildren<QLabel *>()) {
            if (l->isVisible() && !l->text().isEmpty())
                texts << l->text();
        }
        QVERIFY(texts.size() >= 3);
        for (const QString &t : std::as_const(texts))
            QVERIFY2(isJapanese(t), qPrintable(t));

        // The context menu of an edit field.
        QLineEdit edit("text");
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        int named = 0;
        for (const QAction *a : menu->actions()) {
            if (a->isSeparator())
                continue;
            ++named;
            QVERIFY2(isJapanese(a->text()), qPrintable(a->text()));
        }
        QVERIFY(named >= 5);
    }
};

QTEST_MAIN(TestDialogCaptions)
#include "tst_dialogcaptions.moc"
