#include "base/SettingsStore.h"

#include "base/Errors.h"
#include "base/ProgramName.h"

#include <QRegularExpression>
#include <QSettings>

#include <limits>
#include <memory>

using sheafline::Setting;
using sheafline::SettingDefault;
using sheafline::SettingType;
using sheafline::settingRow;

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
    explicit Store(const QString &file)
        : m_settings(file.isEmpty()
                         ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                       QString::fromUtf16(sheafline::kOrganizationName),
                                                       QString::fromUtf16(sheafline::kApplicationName))
                         : std::make_unique<QSettings>(file, QSettings::IniFormat))
    {
        m_settings->setFallbacksEnabled(false);
    }

    // Whether the store could be read at all; a store that cannot be read
    // must not be written over either.
    bool readable() const { return m_settings->status() == QSettings::NoError; }

    bool contains(const QString &name) const { return m_settings->contains(name); }
    QVariant value(const QString &name) const { return m_settings->value(name); }

    // Writes one value and syncs; throws when it did not reach the disk.
    // QSettings replaces the file atomically, so a failed write leaves the
    // values already stored as they were.  A value stored already (as the
    // same text) is not written again: replacing the file makes new files on
    // disk each time, which is most of what a window's start-up spends on
    // its layout settings.
    void write(const QString &name, const QVariant &value)
    {
        if (!readable() || !m_settings->isWritable())
            throw AppError(setFailed(name));
        if (m_settings->contains(name)) {
            // Read from the file a value is a text; written by this process
            // it may still be the number it was written as.
            const QVariant stored = m_settings->value(name);
            const int type = stored.typeId();
            if ((type == QMetaType::QString || type == QMetaType::Int || type == QMetaType::LongLong)
                && stored.toString() == value.toString())
                return;
        }
        m_settings->setValue(name, value);
        m_settings->sync();
        if (m_settings->status() != QSettings::NoError)
            throw AppError(setFailed(name));
    }

private:
    std::unique_ptr<QSettings> m_settings;
};

// Reads the stored value, writing `def` first when it is missing.
QVariant readWithDefault(const QString &file, const QString &name, const QVariant &def)
{
    Store store(file);
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

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(const QString &file) : m_file(file) {}

// ---- By name ----

QString SettingsStore::readString(const QString &name, const QString &def) const
{
    const QVariant v = readWithDefault(m_file, name, def);
    if (v.typeId() == QMetaType::QStringList) {
        // A hand-edited line with commas reads as a list; one item is still a text.
        const QStringList list = v.toStringList();
        if (list.size() == 1)
            return list.first();
        throw AppError(badType(name));
    }
    if (!v.canConvert<QString>() || v.typeId() == QMetaType::QByteArray)
        throw AppError(badType(name));
    return v.toString();
}

int SettingsStore::readInteger(const QString &name, int def) const
{
    const QVariant v = readWithDefault(m_file, name, def);
    bool fits = true;
    const qint64 n = storedInteger(name, v, &fits);
    if (!fits)
        throw AppError(getFailed(name));
    return int(n);
}

bool SettingsStore::readBoolean(const QString &name, bool def) const
{
    const QVariant v = readWithDefault(m_file, name, def ? 1 : 0);
    bool fits = true;
    const qint64 n = storedInteger(name, v, &fits);
    if (!fits)
        throw AppError(getFailed(name));
    return n != 0;
}

void SettingsStore::writeString(const QString &name, const QString &value) const
{
    Store(m_file).write(name, value);
}

void SettingsStore::writeInteger(const QString &name, int value) const
{
    Store(m_file).write(name, value);
}

void SettingsStore::writeBoolean(const QString &name, bool value) const
{
    Store(m_file).write(name, value ? 1 : 0);
}

// ---- By the settings table ----

QString SettingsStore::readText(Setting setting) const
{
    const auto &row = settingRow(setting);
    Q_ASSERT(row.type == SettingType::Text && row.defaultFrom == SettingDefault::Fixed);
    return readString(row.key(), QString::fromUtf16(row.defaultText));
}

int SettingsStore::readInteger(Setting setting) const
{
    const auto &row = settingRow(setting);
    Q_ASSERT(row.type == SettingType::Integer && row.defaultFrom == SettingDefault::Fixed);
    return readInteger(row.key(), row.defaultInteger);
}

QString SettingsStore::readText(Setting setting, const QString &def) const
{
    const auto &row = settingRow(setting);
    Q_ASSERT(row.type == SettingType::Text);
    return readString(row.key(), def);
}

int SettingsStore::readInteger(Setting setting, int def) const
{
    const auto &row = settingRow(setting);
    Q_ASSERT(row.type == SettingType::Integer);
    return readInteger(row.key(), def);
}

void SettingsStore::write(Setting setting, const QString &value) const
{
    Q_ASSERT(settingRow(setting).type == SettingType::Text);
    writeString(settingRow(setting).key(), value);
}

void SettingsStore::write(Setting setting, int value) const
{
    Q_ASSERT(settingRow(setting).type == SettingType::Integer);
    writeInteger(settingRow(setting).key(), value);
}
