#include "viewer/ViewerToolbarRow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {

QToolButton *toolButton(QWidget *parent, const QString &text, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    return b;
}

} // namespace

ViewerToolbarRow::ViewerToolbarRow(QWidget *bar)
    : prev(toolButton(bar, QStringLiteral("◀"), QStringLiteral("前のページ"))),
      next(toolButton(bar, QStringLiteral("▶"), QStringLiteral("次のページ"))),
      pageEdit(new QLineEdit(bar)),
      pageCount(new QLabel(QStringLiteral("/ 0"), bar)),
      zoomOut(toolButton(bar, QStringLiteral("－"), QStringLiteral("縮小"))),
      zoom(new QComboBox(bar)),
      zoomIn(toolButton(bar, QStringLiteral("＋"), QStringLiteral("拡大"))),
      fitWidth(toolButton(bar, QStringLiteral("幅"), QStringLiteral("幅に合わせる"))),
      fitPage(toolButton(bar, QStringLiteral("全体"), QStringLiteral("ページ全体を表示"))),
      rotate(toolButton(bar, QStringLiteral("⟳"), QStringLiteral("右に回転"))),
      print(toolButton(bar, QStringLiteral("印刷"), QStringLiteral("印刷"))),
      findEdit(new QLineEdit(bar)),
      findPrev(toolButton(bar, QStringLiteral("▲"), QStringLiteral("前を検索"))),
      findNext(toolButton(bar, QStringLiteral("▼"), QStringLiteral("次を検索"))),
      findLabel(new QLabel(bar))
{
    pageEdit->setFixedWidth(48);
    pageEdit->setAlignment(Qt::AlignRight);
    pageEdit->setToolTip(QStringLiteral("ページ番号"));
    zoom->setEditable(true);
    zoom->setInsertPolicy(QComboBox::NoInsert);
    for (int z : {25, 50, 75, 100, 125, 150, 200, 300, 400})
        zoom->addItem(QStringLiteral("%1%").arg(z), z);
    zoom->setToolTip(QStringLiteral("表示倍率"));
    findEdit->setPlaceholderText(QStringLiteral("検索"));
    findEdit->setClearButtonEnabled(true);
    findEdit->setMaximumWidth(180);

    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);
    for (QWidget *w : std::initializer_list<QWidget *>{prev, pageEdit, pageCount, next, zoomOut, zoom, zoomIn,
                                                       fitWidth, fitPage, rotate, print})
        row->addWidget(w);
    row->addStretch(1);
    for (QWidget *w : std::initializer_list<QWidget *>{findEdit, findPrev, findNext, findLabel})
        row->addWidget(w);
}

double zoomFromText(const QString &text)
{
    QString t = text;
    t.remove(QLatin1Char('%'));
    bool ok = false;
    const double percent = t.trimmed().toDouble(&ok);
    return ok && percent > 0 ? percent / 100.0 : 0;
}
