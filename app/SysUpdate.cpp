// The settings store (QSettings, native format) and the program paths.
#include "app/SysUpdate.h"

#include "app/Errors.h"
#include "app/ProgramPaths.h"
#include "update/UpdateChecker.h"
#include "update/WorkFolder.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSettings>

#include <limits>

TSysUpdateModule *SysUpdateModule = nullptr;

namespace {

QString setFailed(const QString &name)
{
    return QStringLiteral("'%1' の設定に失敗しました").arg(name);
}
QString getFailed(const QString &name)
{
    return QStringLiteral("'%1' の取得に失敗しました").arg(name);
}
QString badType(const QString &name)
{
    return QStringLiteral("'%1' のデータ型が不正です").arg(name);
}

// One opening of the store.  A fresh QSettings per operation (its constructor
// reads the file from disk), without the organisation-wide and system fallbacks.
class Store
{
public:
    Store() : m_settings(QSettings::NativeFormat, QSettings::UserScope,
                         QStringLiteral("MOSSGATE"), QStringLiteral("Sheafline"))
    {
        m_settings.setFallbacksEnabled(false);
    }

    // Whether the store could be read at all; a store that cannot be read
    // must not be written over either.
    bool readable() const { return m_settings.status() == QSettings::NoError; }

    bool contains(const QString &name) const { return m_settings.contains(name); }
    QVariant value(const QString &name) const { return m_settings.value(name); }

    // Writes one value and syncs; throws when it did not reach the disk.
    // QSettings replaces the file atomically, so a failed write leaves the
    // values already stored as they were.
    void write(const QString &name, const QVariant &value)
    {
        if (!readable() || !m_settings.isWritable())
            throw AppError(setFailed(name));
        m_settings.setValue(name, value);
        m_settings.sync();
        if (m_settings.status() != QSettings::NoError)
            throw AppError(setFailed(name));
    }

private:
    QSettings m_settings;
};

// Reads the stored value, writing `def` first when it is missing.
QVariant readWithDefault(const QString &name, const QVariant &def)
{
    Store store;
    if (!store.readable())
        throw AppError(getFailed(name));
    // write() throws when the value did not reach the disk.
    if (!store.contains(name))
        store.write(name, def);
    return store.value(name);
}

// Integers are kept as decimal text; anything else is of another type.
qint64 storedInteger(const QString &name, const QVariant &v, bool *fits)
{
    if (v.typeId() != QMetaType::QString && v.typeId() != QMetaType::Int
        && v.typeId() != QMetaType::LongLong && v.typeId() != QMetaType::UInt
        && v.typeId() != QMetaType::ULongLong)
        throw AppError(badType(name));
    bool ok = false;
    const QString text = v.toString().trimmed();
    qint64 n = text.toLongLong(&ok, 10);
    if (!ok) {
        // Digits that do not fit even 64 bits are still an integer, just too large.
        static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
        if (digits.match(text).hasMatch()) {
            *fits = false;
            return 0;
        }
        throw AppError(badType(name));
    }
    *fits = n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max();
    return n;
}

} // namespace

TSysUpdateModule::TSysUpdateModule()
{
    const sheafline::ProgramPaths paths = sheafline::computeProgramPaths(
        QCoreApplication::applicationFilePath(), sheafline::userTempFolder());
    FolderName = paths.FolderName;
    ExeFile = paths.ExeFile;
    webPath = RegistryReadString(QStringLiteral("updatepath"), QString::fromUtf16(kDefaultUpdatePath))
        + ExeFile;
    RunPath = paths.RunPath;
    // Not examined: the updater checks the folder before it uses it.
    WorkFolder::prepare(RunPath);
}

TSysUpdateModule::~TSysUpdateModule() = default;

QString TSysUpdateModule::RegistryReadString(const QString &Name, const QString &Def)
{
    const QVariant v = readWithDefault(Name, Def);
    if (v.typeId() == QMetaType::QStringList) {
        // A hand-edited line with commas reads as a list; one item is still a text.
        const QStringList list = v.toStringList();
        if (list.size() == 1)
            return list.first();
        throw AppError(badType(Name));
    }
    if (!v.canConvert<QString>() || v.typeId() == QMetaType::QByteArray)
        throw AppError(badType(Name));
    return v.toString();
}

int TSysUpdateModule::RegistryReadInteger(const QString &Name, int Def)
{
    const QVariant v = readWithDefault(Name, Def);
    bool fits = true;
    const qint64 n = storedInteger(Name, v, &fits);
    if (!fits)
        throw AppError(getFailed(Name));
    return int(n);
}

bool TSysUpdateModule::RegistryReadBoolean(const QString &Name, bool Def)
{
    const QVariant v = readWithDefault(Name, Def ? 1 : 0);
    bool fits = true;
    const qint64 n = storedInteger(Name, v, &fits);
    if (!fits)
        throw AppError(getFailed(Name));
    return n != 0;
}

bool TSysUpdateModule::RegistryWriteString(const QString &Name, const QString &Def)
{
    Store().write(Name, Def);
    return true;
}

bool TSysUpdateModule::RegistryWriteInteger(const QString &Name, int Def)
{
    Store().write(Name, Def);
    return true;
}

bool TSysUpdateModule::RegistryWriteBoolean(const QString &Name, bool Def)
{
    Store().write(Name, Def ? 1 : 0);
    return true;
}
