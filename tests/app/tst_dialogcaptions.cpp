// What the window system shows as the caption of each of the program's
// windows, read back from the X server, and Qt's own dialog texts in
// Japanese whatever the locale.  Runs under a real X server (xvfb-run).
#include "about/About.h"
#include "app/ErrorBox.h"
#include "app/SheaflineApplication.h"
#include "app/Unit1.h"
#include "app/MessageBoxes.h"
#include "browse/FileListView.h"
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

// The value of an X window property as xprop prints it after " = " (or
// after ":" for structured ones); empty when it cannot be read.
QString xPropertyValue(WId window, const char *name)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QString::fromLatin1(name)});
    if (!xprop.waitForFinished(10000) || xprop.exitCode() != 0)
        return {};
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const qsizetype eq = out.indexOf(QLatin1String(" = "));
    if (eq >= 0)
        return out.mid(eq + 3).trimmed();
    const qsizetype colon = out.indexOf(QLatin1Char(':'));
    return colon >= 0 ? out.mid(colon + 1).trimmed() : QString();
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

    // Every dialog is opened from the main window with a dialog's frame: a
    // title and a close button, no minimise or maximise button, as the hints
    // every window manager reads say it: the window's type, the Motif hints,
    // the transient owner (the main window, which the dialog belongs to) and
    // a fixed size.
    void dialogFrames_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("情報") << "info";
        QTest::newRow("エラー") << "error";
        QTest::newRow("警告") << "warning";
        QTest::newRow("確認") << "confirm";
        QTest::newRow("application's error box") << "errorbox";
        QTest::newRow("rename dialog") << "rename";
        QTest::newRow("About box") << "about";
    }
    void dialogFrames()
    {
        QFETCH(QString, window);
        m_main.reset();
        m_main.dir().writeFile("a.pdf", "x");
        TForm1 *form = m_main.open({m_main.dir().path()});
        QVERIFY(form);
        form->Timer1->stop();
        form->ListView1->selectRow(0);

        struct Seen
        {
            Qt::WindowFlags flags;
            QString type, motif, transientFor, sizeHints;
        } seen;
        ModalAnswerer answer([&](QWidget *w) {
            if (QTest::qWaitForWindowExposed(w)) {
                seen.flags = w->windowFlags();
                seen.type = xPropertyValue(w->winId(), "_NET_WM_WINDOW_TYPE");
                seen.motif = xPropertyValue(w->winId(), "_MOTIF_WM_HINTS");
                seen.transientFor = xPropertyValue(w->winId(), "WM_TRANSIENT_FOR");
                seen.sizeHints = xPropertyValue(w->winId(), "WM_NORMAL_HINTS");
            }
            static_cast<QDialog *>(w)->reject();
        });
        if (window == "info")
            MsgInfo("text");
        else if (window == "error")
            MsgError("text");
        else if (window == "warning")
            MsgWarning("text");
        else if (window == "confirm")
            MsgConfirm("text");
        else if (window == "errorbox")
            showErrorBox("failed");
        else if (window == "rename")
            form->N26Click(form->N26);
        else if (window == "about")
            form->N21Click(form->N21);
        QCOMPARE(answer.seen.size(), 1);

        QCOMPARE(seen.flags & Qt::WindowType_Mask, Qt::Dialog);
        QVERIFY(!(seen.flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(seen.flags & Qt::WindowCloseButtonHint);
        QVERIFY2(seen.type.startsWith("_NET_WM_WINDOW_TYPE_DIALOG"), qPrintable(seen.type));
        // flags, functions, decorations: functions and decorations given,
        // neither "all", no minimise (0x8, 0x20) nor maximise (0x10, 0x40).
        const QStringList motif = seen.motif.split(", ");
        QCOMPARE(motif.size(), 5);
        bool ok = false;
        const uint flags = motif[0].toUInt(&ok, 16);
        const uint functions = motif[1].toUInt(&ok, 16);
        const uint decorations = motif[2].toUInt(&ok, 16);
        QVERIFY2(ok && (flags & 0x3) == 0x3, qPrintable(seen.motif));
        QVERIFY2(!(functions & (0x1 | 0x8 | 0x10)) && (functions & 0x20), qPrintable(seen.motif));
        QVERIFY2(!(decorations & (0x1 | 0x20 | 0x40)) && (decorations & 0x8), qPrintable(seen.motif));
        // Transient for the main window.
        QVERIFY2(seen.transientFor.endsWith(QStringLiteral("0x%1").arg(form->winId(), 0, 16)),
                 qPrintable(seen.transientFor + " / " + QString::number(form->winId(), 16)));
        // Fixed in size: no window manager offers to maximise it.
        static const QRegularExpression minSize("minimum size: (\\d+) by (\\d+)");
        static const QRegularExpression maxSize("maximum size: (\\d+) by (\\d+)");
        const auto min = minSize.match(seen.sizeHints);
        const auto max = maxSize.match(seen.sizeHints);
        QVERIFY2(min.hasMatch() && max.hasMatch(), qPrintable(seen.sizeHints));
        QCOMPARE(min.captured(1) + "x" + min.captured(2), max.captured(1) + "x" + max.captured(2));
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
