#include "update/PackageName.h"

#include <climits>

bool isPackageName(const QString &name)
{
    // Everything outside this small set could walk out of the work folder or
    // change the meaning of a line in the script.
    if (name.isEmpty() || name.size() > 255)
        return false;
    const auto isAlnum = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    };
    if (!isAlnum(name.front().unicode()))
        return false;
    for (const QChar ch : name) {
        const char16_t c = ch.unicode();
        if (!isAlnum(c) && c != u' ' && c != u'.' && c != u'_' && c != u'-' && c != u'+' && c != u'~')
            return false;
    }
    return !name.contains(QLatin1String(".."));
}

QVersionNumber packageVersion(const QString &name)
{
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    qsizetype i = 0;
    while (i < name.size() && !isDigit(name.at(i)))
        ++i;
    QList<int> segments;
    while (i < name.size() && isDigit(name.at(i))) {
        qint64 value = 0;
        while (i < name.size() && isDigit(name.at(i))) {
            // A group too long for a number is no version anyone released.
            value = value * 10 + (name.at(i).unicode() - u'0');
            if (value > INT_MAX)
                return QVersionNumber();
            ++i;
        }
        segments.append(int(value));
        if (i + 1 < name.size() && name.at(i) == u'.' && isDigit(name.at(i + 1)))
            ++i;
        else
            break;
    }
    return QVersionNumber(segments);
}
