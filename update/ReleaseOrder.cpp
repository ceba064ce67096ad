#include "update/ReleaseOrder.h"

#include <algorithm>

bool isNewerRelease(const QString &offered, const QString &installed)
{
    // Spelled out rather than QString::compare so that no locale or
    // normalisation can ever take part.
    const qsizetype n = std::min(offered.size(), installed.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t a = offered.at(i).unicode();
        const char16_t b = installed.at(i).unicode();
        if (a != b)
            return a > b;
    }
    return offered.size() > installed.size();
}
