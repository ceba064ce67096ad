#include "update/PackageName.h"

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
