// The file list: fill order, column sorts, view styles and its signals.
#include "browse/BrowseRules.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/FileNameDelegate.h"
#include "browse/IconCache.h"

#include "support/TestDir.h"

#include <QFile>
#include <QMap>
#include <QHeaderView>
#include <QHelpEvent>
#include <QListView>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

static QStringList column(const FileListModel *m, int col)
{
    QStringList texts;
    for (int r = 0; r < m->rowCount(); ++r)
        texts << m->index(r, col).data().toString();
    return texts;
}

static void sortByColumnAs(FileListModel *m, int col, const QLocale &locale, bool captionsOnly)
{
    const QCollator c = BrowseRules::columnCollator(locale);
    m->sortRows([&](const FileEntry &a, const FileEntry &b) {
        return BrowseRules::CompareFileItems(a, b, col, c);
    }, captionsOnly);
}

static void sortByColumn(FileListModel *m, int col, const QLocale &locale)
{
    sortByColumnAs(m, col, locale, false);
}

class TestFileListView : public QObject
{
    Q_OBJECT
    const QLocale locale{QStringLiteral("ja_JP")};

    // b.pdf 2kb 2021, A.pdf 10kb 2023, a.pdf 0kb 2022, and a folder z.pdf 2020.
    void makeFolder(TestDir &dir)
    {
        dir.writeFile("b.pdf", QByteArray(2000, 'b'));
        dir.writeFile("A.pdf", QByteArray(10 * 1024, 'A'));
        dir.writeFile("a.pdf");
        dir.mkdir("z.pdf");
        dir.writeFile("skip.txt", "x");
        QVERIFY(dir.setModified("b.pdf", QDateTime(QDate(2021, 5, 1), QTime(8, 0))));
        QVERIFY(dir.setModified("A.pdf", QDateTime(QDate(2023, 1, 1), QTime(8, 0))));
        QVERIFY(dir.setModified("a.pdf", QDateTime(QDate(2022, 1, 1), QTime(8, 0))));
        QVERIFY(dir.setModified("z.pdf", QDateTime(QDate(2020, 1, 1), QTime(8, 0))));
    }

    // The folder above, filled into `view` shown at `size`; false when the
    // window never got exposed.
    bool showFilled(FileListView &view, TestDir &dir, QSize size)
    {
        makeFolder(dir);
        view.resize(size);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view))
            return false;
        view.model()->fillFromFolder(dir.path() + "/", locale);
        return true;
    }

private slots:
    void fillThenColumnSorts()
    {
        TestDir dir;
        makeFolder(dir);
        FileListView view;
        FileListModel *m = view.model();
        m->fillFromFolder(dir.path() + "/", locale);
        const QStringList ascending{"a.pdf", "A.pdf", "b.pdf", "z.pdf"};
        QCOMPARE(column(m, 0), ascending);
        QCOMPARE(column(m, 1), (QStringList{"0kb", "10kb", "2kb", ""}));
        QCOMPARE(m->index(1, 2).data().toString(), "2023/01/01 08:00");

        sortByColumn(m, 0, locale);
        QCOMPARE(column(m, 0).mid(0, 2), (QStringList{"z.pdf", "b.pdf"}));
        const QStringList byNameOnce = column(m, 0);
        sortByColumn(m, 0, locale); // no toggle: still descending
        QCOMPARE(column(m, 0), byNameOnce);

        sortByColumn(m, 1, locale); // texts: 2kb above 10kb, folder last
        QCOMPARE(column(m, 1), (QStringList{"2kb", "10kb", "0kb", ""}));

        sortByColumn(m, 2, locale); // newest first
        QCOMPARE(column(m, 0), (QStringList{"A.pdf", "a.pdf", "b.pdf", "z.pdf"}));

        // The next fill returns to ascending name order.
        m->fillFromFolder(dir.path() + "/", locale);
        QCOMPARE(column(m, 0), ascending);
    }

    // Sizes and dates are read when a row's texts are first asked for: a file
    // that changes after the fill shows its new size if nothing read it yet,
    // a sort by size or date reads every row, a sort by name reads none, and
    // a file gone before its row is read keeps empty texts.
    void textsReadWhenFirstAskedFor_data()
    {
        QTest::addColumn<int>("sortColumn"); // -1: no sort between fill and change
        QTest::addColumn<QString>("sizeAfterChange");
        QTest::newRow("no sort") << -1 << "3kb";
        QTest::newRow("by name") << 0 << "3kb";
        QTest::newRow("by size") << 1 << "2kb";
        QTest::newRow("by date") << 2 << "2kb";
    }
    void textsReadWhenFirstAskedFor()
    {
        QFETCH(int, sortColumn);
        QFETCH(QString, sizeAfterChange);
        TestDir dir;
        makeFolder(dir);
        FileListView view;
        FileListModel *m = view.model();
        m->fillFromFolder(dir.path() + "/", locale);
        if (sortColumn >= 0)
            sortByColumnAs(m, sortColumn, locale, sortColumn == 0);
        const QString grown = dir.writeFile("b.pdf", QByteArray(3000, 'b'));
        QVERIFY(QFile::remove(dir.path("a.pdf")));
        const auto rowOf = [m](const QString &name) {
            for (int r = 0; r < m->rowCount(); ++r) {
                if (m->index(r, 0).data().toString() == name)
                    return r;
            }
            return -1;
        };
        QCOMPARE(m->index(rowOf("b.pdf"), 1).data().toString(), sizeAfterChange);
        QCOMPARE(m->entry(rowOf("b.pdf")).sizeText, sizeAfterChange);
        const int gone = rowOf("a.pdf");
        QVERIFY(gone >= 0);
        QCOMPARE(m->index(gone, 1).data().toString(), sortColumn > 0 ? "0kb" : "");
        QCOMPARE(m->index(gone, 2).data().toString().isEmpty(), sortColumn <= 0);
        QCOMPARE(m->entries().size(), 4);
        // A later sort by size puts the row without texts last, beside the folder.
        sortByColumn(m, 1, locale);
        QCOMPARE(column(m, 1).mid(0, 2), (QStringList{sizeAfterChange, "10kb"}));
        QVERIFY(!grown.isEmpty());
    }

    void fillOfUnreadableFolderIsEmpty()
    {
        TestDir dir;
        makeFolder(dir);
        FileListView view;
        view.model()->fillFromFolder(dir.path() + "/", locale);
        QCOMPARE(view.model()->rowCount(), 4);
        view.model()->fillFromFolder(dir.path("missing/"), locale);
        QCOMPARE(view.model()->rowCount(), 0);
    }

    void selectionFollowsSortedRow()
    {
        TestDir dir;
        makeFolder(dir);
        FileListView view;
        view.model()->fillFromFolder(dir.path() + "/", locale);
        view.selectRow(2);
        QCOMPARE(view.selectedName(), "b.pdf");
        sortByColumn(view.model(), 0, locale);
        QCOMPARE(view.selectedName(), "b.pdf");
        QCOMPARE(view.selectedRow(), 1);
        view.selectRow(-1);
        QCOMPARE(view.selectedRow(), -1);
        QCOMPARE(view.selectedName(), QString());
    }

    void viewStyles_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("report");
        QTest::addColumn<int>("iconSize");
        QTest::newRow("report") << int(FileListView::ViewStyle::Report) << true << 16;
        QTest::newRow("small icons") << int(FileListView::ViewStyle::SmallIcon) << false << 16;
        QTest::newRow("large icons") << int(FileListView::ViewStyle::LargeIcon) << false << 32;
    }
    void viewStyles()
    {
        QFETCH(int, style);
        QFETCH(bool, report);
        QFETCH(int, iconSize);
        TestDir dir;
        FileListView view;
        QVERIFY(showFilled(view, dir, QSize(271, 300)));
        view.selectRow(2);
        view.setFocus();
        QVERIFY(view.reportView()->hasFocus());

        view.setViewStyle(FileListView::ViewStyle(style));
        QAbstractItemView *cur = view.currentView();
        QCOMPARE(cur == view.reportView(), report);
        QVERIFY(cur->isVisible());
        QCOMPARE(view.focusProxy(), cur);
        QVERIFY(cur->hasFocus());
        QCOMPARE(cur->iconSize(), QSize(iconSize, iconSize));
        QVERIFY(report ? !view.reportView()->wordWrap() : !view.iconView()->wordWrap());
        QCOMPARE(view.selectedName(), "b.pdf"); // same rows, same selection
        if (!report) {
            QCOMPARE(view.iconView()->viewMode(),
                     iconSize == 32 ? QListView::IconMode : QListView::ListMode);
            QCOMPARE(view.iconView()->model(), view.model());
        }
        // A later fill keeps the style.
        view.model()->fillFromFolder(dir.path() + "/", locale);
        QCOMPARE(view.currentView(), cur);
    }

    void signalsOfTheVisibleView_data() { viewStyles_data(); }
    void signalsOfTheVisibleView()
    {
        QFETCH(int, style);
        QFETCH(bool, report);
        TestDir dir;
        FileListView view;
        QVERIFY(showFilled(view, dir, QSize(400, 300)));
        view.setViewStyle(FileListView::ViewStyle(style));
        QAbstractItemView *cur = view.currentView();

        QSignalSpy keys(&view, &FileListView::keyPressed);
        QTest::keyClick(cur, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(keys.count(), 2); // Shift, then Return with Shift held
        QCOMPARE(keys.at(1).at(0).toInt(), int(Qt::Key_Return));
        QCOMPARE(keys.at(1).at(1).value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);
        // The view still handles its own keys: Down moves the selection.
        view.selectRow(0);
        QTest::keyClick(cur, report ? Qt::Key_Down : Qt::Key_Right);
        QCOMPARE(view.selectedRow(), 1);
        QCOMPARE(keys.count(), 3);

        QSignalSpy doubles(&view, &FileListView::doubleClicked);
        const QRect r = cur->visualRect(view.model()->index(1, 0));
        QVERIFY(r.isValid());
        // A real double click: press and release, then the double-click press.
        QTest::mouseClick(cur->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(cur->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(doubles.count(), 1);
        QCOMPARE(view.selectedRow(), 1);

        QSignalSpy columns(&view, &FileListView::columnClicked);
        if (report) {
            QHeaderView *h = view.reportView()->header();
            QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                              QPoint(h->sectionViewportPosition(2) + 5, h->height() / 2));
            QCOMPARE(columns.count(), 1);
            QCOMPARE(columns.at(0).at(0).toInt(), 2);
        }
    }

    // The first move key on a freshly filled list acts from the first row in
    // every style: Down, Up and Home select it, End the last row, PageDown
    // the row a page below it (as from a selected first row).
    void firstMoveKeyActsFromFirstRow_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("key");
        const QList<QPair<const char *, FileListView::ViewStyle>> styles{
            {"report", FileListView::ViewStyle::Report},
            {"small icons", FileListView::ViewStyle::SmallIcon},
            {"large icons", FileListView::ViewStyle::LargeIcon},
            {"thumbnails", FileListView::ViewStyle::Thumbnail}};
        const QList<QPair<const char *, Qt::Key>> keys{
            {"Down", Qt::Key_Down}, {"Up", Qt::Key_Up}, {"Home", Qt::Key_Home},
            {"End", Qt::Key_End}, {"PageDown", Qt::Key_PageDown}};
        for (const auto &[styleName, style] : styles)
            for (const auto &[keyName, key] : keys)
                QTest::addRow("%s, %s", styleName, keyName) << int(style) << int(key);
    }
    void firstMoveKeyActsFromFirstRow()
    {
        QFETCH(int, style);
        QFETCH(int, key);
        TestDir dir;
        for (int i = 0; i < 60; ++i)
            dir.writeFile(QStringLiteral("file%1.pdf").arg(i, 2, 10, QLatin1Char('0')), "x");
        FileListView view;
        view.resize(271, 300);
        view.setViewStyle(FileListView::ViewStyle(style));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QAbstractItemView *cur = view.currentView();
        cur->setFocus();
        QTRY_VERIFY(cur->hasFocus());
        const int last = 59;

        // Where the key lands from a selected first row.
        view.model()->fillFromFolder(dir.path() + "/", locale);
        view.selectRow(0);
        QTest::keyClick(cur, Qt::Key(key));
        const int fromFirst = view.selectedRow();
        const QMap<int, int> expected{{Qt::Key_Down, 0}, {Qt::Key_Up, 0}, {Qt::Key_Home, 0}, {Qt::Key_End, last}};
        if (key == Qt::Key_PageDown)
            QVERIFY2(fromFirst > 0 && fromFirst < last, qPrintable(QString::number(fromFirst)));

        // A fresh fill: nothing current, nothing selected.
        view.model()->fillFromFolder(dir.path() + "/", locale);
        QCOMPARE(view.selectedRow(), -1);
        QSignalSpy moved(&view, &FileListView::currentRowChanged);
        QTest::keyClick(cur, Qt::Key(key));
        const int landed = view.selectedRow();
        QCOMPARE(landed, expected.value(key, fromFirst));
        // Announced once, from no row to where the key landed.
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved.first().at(0).toInt(), landed);
        QCOMPARE(moved.first().at(1).toInt(), -1);
    }

    // Every size and date text fits its column, and every name its column,
    // in the font in use: the designed 60 and 85 pixels were chosen for
    // another platform's font.  The columns keep to the designed widths
    // where the texts fit and the name column fills the rest; a list too
    // narrow for all of it scrolls sideways.
    void textsFitTheirColumns_data()
    {
        QTest::addColumn<int>("listWidth");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<QString>("name"); // besides line1↵line2.pdf and big.pdf
        const QString longName = "a rather long file name for the listing, 2026 edition.pdf";
        QTest::newRow("designed width, designed font") << 271 << 12 << longName;
        QTest::newRow("wide list") << 900 << 12 << longName;
        QTest::newRow("larger font") << 271 << 17 << longName;
        QTest::newRow("short names just over the rest") << 271 << 12 << "delta-2.pdf";
    }
    void textsFitTheirColumns()
    {
        QFETCH(int, listWidth);
        QFETCH(int, pixelSize);
        QFETCH(QString, name);
        TestDir dir;
        dir.writeFile(name, "x");
        dir.writeFile("b.pdf", QByteArray(2000, 'b'));
        dir.writeFile("line1\nline2.pdf", "x");
        // A sparse file of 5 GiB: 5242880kb.
        QFile big(dir.path("big.pdf"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(qint64(5) << 30));
        big.close();
        QVERIFY(dir.setModified("b.pdf", QDateTime(QDate(2026, 12, 18), QTime(23, 58))));

        FileListView view;
        QFont font(QStringLiteral("IPAPGothic"));
        font.setPixelSize(pixelSize);
        view.setFont(font);
        view.resize(listWidth, 300);
        view.fitColumns(listWidth, 60, 85, 21);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.model()->fillFromFolder(dir.path() + "/", locale);
        QTreeView *report = view.reportView();
        QTRY_VERIFY(view.model()->widestSizeTextLength() == 9); // shown, so read

        // Each column at least as wide as the view's own measure of its
        // cells (what it would size the column to for its contents).
        for (int col = 0; col < 3; ++col) {
            const int hint = static_cast<QAbstractItemView *>(report)->sizeHintForColumn(col);
            QVERIFY2(report->columnWidth(col) >= hint,
                     qPrintable(QStringLiteral("column %1: %2 of %3").arg(col).arg(report->columnWidth(col)).arg(hint)));
        }
        for (int row = 0; row < view.model()->rowCount(); ++row)
            QVERIFY(!view.model()->index(row, 0).data().toString().contains(QLatin1Char('\n'))); // "line1↵line2.pdf"
        QCOMPARE(view.model()->index(0, 1).data().toString().isEmpty(), false);
        QVERIFY(report->columnWidth(1) >= 60);
        QVERIFY(report->columnWidth(2) >= 85);
        // The name column takes what the others leave, or what the names need.
        const int rest = listWidth - report->columnWidth(1) - report->columnWidth(2) - 21;
        QVERIFY(report->columnWidth(0) >= rest);
        QVERIFY(report->columnWidth(0) == rest || report->horizontalScrollBar()->maximum() > 0);
        if (listWidth == 900)
            QCOMPARE(report->columnWidth(0), rest);
    }

    // A size text that comes into view wider than any before widens its
    // column before it is drawn.
    void sizeColumnWidensForTextsComingIntoView()
    {
        TestDir dir;
        for (int i = 0; i < 40; ++i)
            dir.writeFile(QStringLiteral("a%1.pdf").arg(i, 2, 10, QLatin1Char('0')), "x");
        QFile big(dir.path("z-big.pdf"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(qint64(300) << 30)); // 314572800kb
        big.close();
        FileListView view;
        view.resize(271, 200);
        view.fitColumns(271, 60, 85, 21);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.model()->fillFromFolder(dir.path() + "/", locale);
        QTRY_COMPARE(view.model()->widestSizeTextLength(), 3); // "1kb" rows only, so far
        const int before = view.columnWidth(1);
        view.reportView()->scrollToBottom();
        QTRY_COMPARE(view.model()->widestSizeTextLength(), 11);
        QVERIFY(view.columnWidth(1) > before);
        const QFontMetrics fm(view.reportView()->font());
        QVERIFY(fm.horizontalAdvance("314572800kb") < view.columnWidth(1));
    }

    // Small icons: cells as wide as the widest name needs, up to the list's
    // width; each name in its own cell, cut only where the list is too
    // narrow, whatever the first row's name.
    void smallIconCellsFitNames()
    {
        TestDir dir;
        const QString longest = "a much longer name than the others.pdf";
        dir.writeFile("ab.pdf", "x"); // first row, short
        dir.writeFile(longest, "x");
        dir.writeFile("middle length name.pdf", "x");
        FileListView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.model()->fillFromFolder(dir.path() + "/", locale);
        view.setViewStyle(FileListView::ViewStyle::SmallIcon);
        QListView *icons = view.iconView();
        const QFontMetrics fm(icons->font());
        QTRY_VERIFY(icons->visualRect(view.model()->index(1, 0)).isValid());
        QRect previous;
        for (int row = 0; row < view.model()->rowCount(); ++row) {
            const QRect r = icons->visualRect(view.model()->index(row, 0));
            QVERIFY2(r.width() >= 16 + fm.horizontalAdvance(view.model()->index(row, 0).data().toString()),
                     qPrintable(QString::number(r.width())));
            QVERIFY(!r.intersects(previous));
            previous = r;
        }
        // A list narrower than the longest name: cells as wide as the list.
        view.resize(120, 300);
        QTRY_VERIFY(icons->gridSize().width() <= icons->viewport()->width());
        QVERIFY(icons->gridSize().width() > 60);
    }

    // Wherever a view shortens a name, its tooltip shows the whole name;
    // where the name fits, there is none.
    void tooltipShowsShortenedNames_data()
    {
        QTest::addColumn<int>("style");
        QTest::newRow("report") << int(FileListView::ViewStyle::Report);
        QTest::newRow("small icons") << int(FileListView::ViewStyle::SmallIcon);
        QTest::newRow("large icons") << int(FileListView::ViewStyle::LargeIcon);
        QTest::newRow("thumbnails") << int(FileListView::ViewStyle::Thumbnail);
    }
    void tooltipShowsShortenedNames()
    {
        QFETCH(int, style);
        TestDir dir;
        const QString longName = "<i>quarterly report & the northern region, final, signed and stamped.pdf";
        dir.writeFile("a.pdf", "x");
        dir.writeFile(longName, "x");
        FileListView view;
        view.resize(200, 400);
        view.setViewStyle(FileListView::ViewStyle(style));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.model()->fillFromFolder(dir.path() + "/", locale);
        QAbstractItemView *cur = view.currentView();
        // The report's name column narrowed by hand, as a user may drag it.
        view.setColumnWidth(0, 120);
        const auto askTip = [&](int row) {
            const QRect r = cur->visualRect(view.model()->index(row, 0));
            const QPoint at = r.center();
            QHelpEvent help(QEvent::ToolTip, at, cur->viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(cur->viewport(), &help);
        };
        QTRY_VERIFY(cur->visualRect(view.model()->index(1, 0)).isValid());
        const int longRow = view.model()->caption(0) == "a.pdf" ? 1 : 0;
        askTip(longRow);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY2(QToolTip::text().contains(longName.toHtmlEscaped()), qPrintable(QToolTip::text()));
        // Over the short name the tooltip goes.
        askTip(1 - longRow);
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    // The widest-name estimate is never narrower than the widest name as
    // drawn, and close to it.
    void widestTextWidthHoldsTheWidest_data()
    {
        QTest::addColumn<QStringList>("texts");
        QStringList many;
        for (int i = 0; i < 500; ++i)
            many << QStringLiteral("Document %1.pdf").arg(i, 5, 10, QLatin1Char('0'));
        many << "WWWWWWWWWWWWWW.pdf" << "iiiiiiiiiiiiiiiiiiiiiii.pdf";
        QTest::newRow("many alike, a wide one") << many;
        QTest::newRow("scripts") << QStringList{"請求書 2026年12月.pdf", "AVAVAVAVToTo.pdf", "e\u0301e\u0301.pdf",
                                                 QStringLiteral("\U0001F600 smile.pdf"), "short"};
        QTest::newRow("one") << QStringList{"only.pdf"};
        QTest::newRow("none") << QStringList{};
    }
    void widestTextWidthHoldsTheWidest()
    {
        QFETCH(QStringList, texts);
        QFont font(QStringLiteral("IPAPGothic"));
        font.setPixelSize(12);
        const QFontMetrics fm(font);
        int exact = 0;
        for (const QString &t : texts)
            exact = qMax(exact, fm.horizontalAdvance(t));
        const int estimate = widestTextWidth(texts, fm);
        QVERIFY2(estimate >= exact, qPrintable(QStringLiteral("%1 < %2").arg(estimate).arg(exact)));
        QVERIFY2(estimate <= exact + qMax(4, exact / 20), qPrintable(QStringLiteral("%1 vs %2").arg(estimate).arg(exact)));
    }

    void resizeSignalAndColumns()
    {
        FileListView view;
        QCOMPARE(view.columnWidth(0), 90);
        QCOMPARE(view.columnWidth(1), 60);
        QCOMPARE(view.columnWidth(2), 85);
        QCOMPARE(view.model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "ファイル名");
        QCOMPARE(view.model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "サイズ");
        QCOMPARE(view.model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "日付");
        QVERIFY(view.model()->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole)
                    .value<Qt::Alignment>() & Qt::AlignRight);
        QSignalSpy resized(&view, &FileListView::resized);
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(resized.count() >= 1);
        view.setColumnWidth(0, 134);
        QCOMPARE(view.columnWidth(0), 134);
        QVERIFY(!view.reportView()->header()->isSortIndicatorShown());
    }

    void iconsLookedUpOncePerType()
    {
        TestDir dir;
        for (int i = 0; i < 40; ++i)
            dir.writeFile(QStringLiteral("f%1.pdf").arg(i), "x");
        dir.writeFile("UPPER.PDF", "x");
        dir.mkdir("folder1.pdf");
        dir.mkdir("folder2.pdf");
        FileListView view;
        view.model()->fillFromFolder(dir.path() + "/", locale);
        QCOMPARE(view.model()->rowCount(), 43);
        for (int pass = 0; pass < 2; ++pass)
            for (int r = 0; r < view.model()->rowCount(); ++r)
                QVERIFY(view.model()->index(r, 0).data(Qt::DecorationRole).canConvert<QIcon>());
        // One for the PDF type (either case), one for folders.
        QCOMPARE(view.model()->iconCache()->lookups(), 2);
        const QIcon folder = view.model()->iconCache()->folderIcon();
        const QIcon pdf = view.model()->iconCache()->iconFor("x.pdf", false);
        QCOMPARE(view.model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
                 view.model()->entry(0).isDir ? folder.cacheKey() : pdf.cacheKey());
    }
};

QTEST_MAIN(TestFileListView)
#include "tst_filelistview.moc"
