#include "browse/BrowseRules.h"

#include <algorithm>

namespace BrowseRules {

bool matchesPdfPattern(QStringView name)
{
    return name.endsWith(u".pdf", Qt::CaseInsensitive);
}

QString sizeText(qint64 bytes)
{
    const qint64 kib = (std::max<qint64>(bytes, 0) + 1023) / 1024;
    return QString::number(kib) + QLatin1String("kb");
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

static void appendDigits(QString &out, int value, int width)
{
    QString digits = QString::number(value);
    if (digits.size() < width)
        out.append(QString(width - digits.size(), u'0'));
    out.append(digits);
}

QString dateText(int year, int month, int day, int hour, int minute, const DateSeparators &seps)
{
    QString out;
    out.reserve(16 + seps.date.size() * 2 + seps.time.size());
    // Years below 1000 still take four places, so the texts keep sorting by date.
    appendDigits(out, year, 4);
    out += seps.date;
    appendDigits(out, month, 2);
    out += seps.date;
    appendDigits(out, day, 2);
    out += u' ';
    appendDigits(out, hour, 2);
    out += seps.time;
    appendDigits(out, minute, 2);
    return out;
}

QString dateText(const QDateTime &when, const QLocale &locale)
{
    const QDateTime local = when.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    return dateText(d.year(), d.month(), d.day(), t.hour(), t.minute(), DateSeparators(locale));
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
    // One sort key per row: far cheaper than a full collation per comparison.
    struct Keyed
    {
        QCollatorSortKey key;
        qsizetype index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        keyed.push_back({collator.sortKey(entries.at(i).name), i});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        return a.key.compare(b.key) < 0;
    });
    QList<FileEntry> sorted;
    sorted.reserve(entries.size());
    for (const Keyed &k : keyed)
        sorted.append(std::move(entries[k.index]));
    entries = std::move(sorted);
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

QString includeTrailingDelimiter(const QString &path)
{
    if (path.endsWith(Delimiter))
        return path;
    return path + Delimiter;
}

QString nodePath(const QString &root, const QStringList &textsTopDown)
{
    QString path = root;
    for (const QString &text : textsTopDown) {
        path += text;
        path += Delimiter;
    }
    return includeTrailingDelimiter(path);
}

QString renameTarget(const QString &typed)
{
    const qsizetype dot = typed.lastIndexOf(u'.');
    const qsizetype slash = typed.lastIndexOf(Delimiter);
    QString base = (dot >= 0 && dot > slash) ? typed.left(dot) : typed;
    return base + QLatin1String(".pdf");
}

} // namespace BrowseRules
