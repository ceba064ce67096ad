#include "base/VersionInfo.h"

#include "base/Errors.h"

namespace {

const char *const kItemNames[] = {
    "Comments",      "CompanyName",      "FileDescription",  "FileVersion",
    "InternalName",  "LegalCopyright",   "LegalTrademarks",  "OriginalFilename",
    "PrivateBuild",  "ProductName",      "ProductVersion",   "SpecialBuild",
};

QString translationKey(quint32 translation)
{
    const quint32 language = translation & 0xFFFFu;
    const quint32 codePage = translation >> 16;
    return QStringLiteral("%1%2")
        .arg(language, 4, 16, QLatin1Char('0'))
        .arg(codePage, 4, 16, QLatin1Char('0'))
        .toUpper();
}

QString itemPath(quint32 translation, const QString &item)
{
    return QStringLiteral("\\StringFileInfo\\") + translationKey(translation) + QLatin1Char('\\') + item;
}

// Like the classic Trim: every character up to and including the blank counts.
QString trimControls(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && s.at(end - 1).unicode() <= 0x20)
        --end;
    return s.mid(begin, end - begin);
}

} // namespace

void VersionBlock::addString(quint32 translation, const QString &item, const QString &value)
{
    strings.insert(itemPath(translation, item), value + QChar(0));
}

QString versionItemName(int index)
{
    if (index < 0 || index >= int(std::size(kItemNames)))
        return QString();
    return QString::fromLatin1(kItemNames[index]);
}

QString readVersionItem(const VersionBlock &block, int index)
{
    QString result;
    if (!block.present)
        return result;
    if (block.translations.isEmpty())
        throw AppError(QStringLiteral("情報の取得に失敗しました"));
    const QString name = versionItemName(index);
    if (!name.isEmpty()) {
        const auto it = block.strings.constFind(itemPath(block.translations.first(), name));
        if (it != block.strings.constEnd())
            result = *it;
    }
    result.remove(QChar(0));
    return trimControls(result);
}

QString GetVersionInfoItem(int Index)
{
    return readVersionItem(programVersionBlock(), Index);
}
