#include "browse/BrowseRules.h"

#include <algorithm>

namespace BrowseRules {

// Writes `value` right-aligned into [begin, end), zero-padded; returns the first digit written.
static char16_t *writeDigits(char16_t *end, qint64 value, int minWidth)
{
    char16_t *p = end;
    do {
        *--p = char16_t(u'0' + value % 10);
        value /= 10;
        --minWidth;
    } while (value > 0 || minWidth > 0);
    return p;
}

QString sizeText(qint64 bytes)
{
    // Built in place: a fill formats one per row, so no temporaries.
    const qint64 kib = (std::max<qint64>(bytes, 0) + 1023) / 1024;
    char16_t buf[24];
    char16_t *end = buf + 22;
    end[0] = u'k';
    end[1] = u'b';
    const char16_t *begin = writeDigits(end, kib, 1);
    return QString(reinterpret_cast<const QChar *>(begin), end + 2 - begin);
}

// The first run of non-letters after a field in a locale's format string,
// skipping quoted literals.
static QString separatorOf(const QString &format, const QString &fallback)
{
    bool seenField = false;
    bool quoted = false;
    QString sep;
    for (const QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
            if (!sep.isEmpty())
                break;
            continue;
        }
        if (quoted)
            continue;
        if (c.isLetter()) {
            if (!sep.isEmpty())
                break;
            seenField = true;
        } else if (seenField) {
            sep += c;
        }
    }
    // A format that parts its fields with blanks only (one spelling the month
    // out) has no separator worth the name.
    const QString trimmed = sep.trimmed();
    return trimmed.isEmpty() ? fallback : trimmed;
}

QString dateSeparator(const QLocale &locale)
{
    return separatorOf(locale.dateFormat(QLocale::ShortFormat), QStringLiteral("/"));
}

QString timeSeparator(const QLocale &locale)
{
    return separatorOf(locale.timeFormat(QLocale::ShortFormat), QStringLiteral(":"));
}

QString dateText(int year, int month, int day, int hour, int minute, const DateSeparators &seps)
{
    // One allocation per text: a fill formats one per row.
    QString out(40 + 2 * seps.date.size() + seps.time.size(), Qt::Uninitialized);
    char16_t *p = reinterpret_cast<char16_t *>(out.data());
    auto put = [&p](int value, int width) {
        char16_t digits[12];
        char16_t *end = digits + 12;
        const char16_t *begin = writeDigits(end, value < 0 ? 0 : value, width);
        while (begin != end)
            *p++ = *begin++;
    };
    auto sep = [&p](const QString &s) {
        for (QChar c : s)
            *p++ = c.unicode();
    };
    // Years below 1000 still take four places, so the texts keep sorting by date.
    put(year, 4);
    sep(seps.date);
    put(month, 2);
    sep(seps.date);
    put(day, 2);
    *p++ = u' ';
    put(hour, 2);
    sep(seps.time);
    put(minute, 2);
    out.truncate(p - reinterpret_cast<char16_t *>(out.data()));
    return out;
}

QCollator fillCollator(const QLocale &locale)
{
    QCollator c(locale);
    c.setCaseSensitivity(Qt::CaseSensitive);
    c.setNumericMode(false);
    return c;
}

QCollator columnCollator(const QLocale &locale)
{
    QCollator c(locale);
    c.setCaseSensitivity(Qt::CaseInsensitive);
    c.setNumericMode(false);
    return c;
}

void sortForFill(QList<FileEntry> &entries, const QCollator &collator)
{
    // Row numbers move while sorting, not rows.  A direct comparison beats
    // precomputed sort keys here: ICU skips common prefixes on its own, and
    // keys cost two allocations per row.
    const qsizetype n = entries.size();
    std::vector<qsizetype> order(n);
    for (qsizetype i = 0; i < n; ++i)
        order[i] = i;
    // Names in one folder differ, so the order needs no stability.
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return collator.compare(entries.at(a).name, entries.at(b).name) < 0;
    });
    QList<FileEntry> sorted;
    sorted.reserve(n);
    for (qsizetype i : order)
        sorted.append(std::move(entries[i]));
    entries = std::move(sorted);
}

void sortFolderNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

static bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85)
        || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

QString oneLineName(const QString &name)
{
    // Shown names are asked for on every paint: most hold no break and are
    // handed back shared.
    if (std::none_of(name.cbegin(), name.cend(), isLineBreak))
        return name;
    QString shown = name;
    for (QChar &c : shown) {
        if (isLineBreak(c))
            c = QChar(0x21B5);
    }
    return shown;
}

static const QString &columnText(const FileEntry &e, int column)
{
    switch (column) {
    case 1:
        return e.sizeText;
    case 2:
        return e.dateText;
    default:
        return e.name;
    }
}

int CompareFileItems(const FileEntry &item1, const FileEntry &item2, int column,
                     const QCollator &collator)
{
    const int r = collator.compare(columnText(item1, column), columnText(item2, column));
    return r < 0 ? 1 : (r > 0 ? -1 : 0);
}

QString renameTarget(const QString &typed)
{
    const qsizetype dot = typed.lastIndexOf(u'.');
    const qsizetype slash = typed.lastIndexOf(Delimiter);
    QString base = (dot >= 0 && dot > slash) ? typed.left(dot) : typed;
    return base + QLatin1String(".pdf");
}

} // namespace BrowseRules
