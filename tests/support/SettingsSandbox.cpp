#include "support/SettingsSandbox.h"

#include "base/ProgramName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {
// The program files its settings under <config>/<maker>/<program>.conf.
QString orgFolder(const QString &configHome)
{
    return configHome + QLatin1Char('/') + QString::fromUtf16(sheafline::kOrganizationName);
}
} // namespace

SettingsSandbox::SettingsSandbox()
{
    m_dir.mkdir(QStringLiteral("config"));
    m_dir.mkdir(QStringLiteral("cache"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome()));
    qunsetenv("XDG_RUNTIME_DIR");
}

QString SettingsSandbox::confPath() const
{
    return orgFolder(configHome()) + QLatin1Char('/') + QString::fromUtf16(sheafline::kApplicationName)
        + QStringLiteral(".conf");
}

void SettingsSandbox::clear()
{
    const QString folder = orgFolder(configHome());
    QDir(folder).removeRecursively();
    QFile::remove(folder);
}

bool SettingsSandbox::writeConf(const QByteArray &text)
{
    QDir().mkpath(QFileInfo(confPath()).path());
    QFile f(confPath());
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

QByteArray SettingsSandbox::readConf() const
{
    return m_dir.readFile(confPath());
}

QVariant SettingsSandbox::stored(const QString &name) const
{
    QSettings s(confPath(), QSettings::IniFormat);
    return s.value(name);
}
