#include "browse/FileNameDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QHash>
#include <QHelpEvent>
#include <QListView>
#include <QToolTip>

#include <algorithm>
#include <array>
#include <vector>

FileNameDelegate::FileNameDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QSize FileNameDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // With uniform item sizes a list view sizes every item as its first one:
    // the cell is the size that holds for all.
    if (const auto *list = qobject_cast<const QListView *>(option.widget); list && list->gridSize().isValid())
        return list->gridSize();
    return QStyledItemDelegate::sizeHint(option, index);
}

bool FileNameDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                 const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid() || index.column() != 0)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget ? opt.widget : view;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The room the style gives the text, less the margins it keeps on each
    // side: the style shortens the text beyond that.
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const bool shortened = opt.fontMetrics.horizontalAdvance(opt.text) > textRect.width() - 2 * margin;
    showNameTip(event->globalPos(), view, opt.text, view->visualRect(index), shortened);
    return true;
}

void FileNameDelegate::showNameTip(const QPoint &globalPos, QAbstractItemView *view, const QString &name,
                                   const QRect &area, bool shortened)
{
    if (!shortened) {
        QToolTip::hideText();
        return;
    }
    // A tooltip takes markup for rich text: a name like "<b>.pdf" must show
    // as typed, on one line.
    const QString plain = QStringLiteral("<p style='white-space:pre'>") + name.toHtmlEscaped()
        + QStringLiteral("</p>");
    QToolTip::showText(globalPos, plain, view->viewport(), area);
}

WidestText widestText(const QStringList &texts, const QFontMetrics &fm)
{
    if (texts.isEmpty())
        return {};
    // Advances per character, looked up once: most names are ASCII.
    std::array<int, 128> ascii;
    ascii.fill(-1);
    QHash<char32_t, int> others;
    const auto advance = [&](char32_t c) {
        if (c < 128) {
            int &w = ascii[c];
            if (w < 0)
                w = fm.horizontalAdvance(QChar(char16_t(c)));
            return w;
        }
        auto it = others.find(c);
        if (it == others.end())
            it = others.insert(c, fm.horizontalAdvance(QString::fromUcs4(&c, 1)));
        return *it;
    };
    std::vector<std::pair<int, qsizetype>> estimates;
    estimates.reserve(size_t(texts.size()));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QString &text = texts.at(i);
        int sum = 0;
        for (qsizetype k = 0; k < text.size(); ++k) {
            char32_t c = text.at(k).unicode();
            if (QChar::isHighSurrogate(c) && k + 1 < text.size() && text.at(k + 1).isLowSurrogate())
                c = QChar::surrogateToUcs4(char16_t(c), text.at(++k).unicode());
            sum += advance(c);
        }
        estimates.emplace_back(sum, i);
    }
    // Shaping moves a name's width only a little from the sum of its
    // characters (kerning, joined forms): the widest few by estimate hold
    // the widest by measure.
    constexpr size_t measured = 16;
    const size_t top = std::min(measured, estimates.size());
    std::partial_sort(estimates.begin(), estimates.begin() + qsizetype(top), estimates.end(),
                      [](const auto &a, const auto &b) { return a.first > b.first; });
    WidestText widest;
    for (size_t i = 0; i < top; ++i) {
        const int width = fm.horizontalAdvance(texts.at(estimates[i].second));
        if (widest.index < 0 || width > widest.width)
            widest = {estimates[i].second, width};
    }
    if (estimates.size() > top)
        widest.width = std::max(widest.width, estimates[top].first);
    return widest;
}
