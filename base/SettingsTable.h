#pragma once

#include <QString>
#include <QStringView>

// Every value the program keeps between runs, declared once: the name it is
// stored under, its type and its default.  The settings store reads and
// writes them by these rows (SettingsStore's typed calls); no other code
// spells a name.
namespace sheafline {

enum class SettingType { Text, Integer };

enum class Setting {
    Folder,        // the root folder
    WinHeight,     // the main window's outer size
    WinWidth,
    TreeHeight,    // the folder tree's height
    TreeWidth,     // the left panel's width
    FileListWidth, // the file list's width
    UpdatePath,    // base address of the update server
    LastUpdate,    // the update package installed last
    PollInterval,  // seconds between looks at folders on a file share
};

// Where a missing value's default comes from.
enum class SettingDefault {
    Fixed,      // the row's own default
    AtReading,  // what the reader has at the time of reading: the window's
                // size as it is, the user's Documents folder
};

// Base address of the update server used when "updatepath" is missing.
inline constexpr char16_t kDefaultUpdatePath[] = u"http://sheafline.example/soft/";

struct SettingRow
{
    Setting setting;
    const char16_t *name;
    SettingType type;
    SettingDefault defaultFrom;
    const char16_t *defaultText; // Fixed text rows
    int defaultInteger;          // Fixed integer rows

    QString key() const { return QString::fromUtf16(name); }
};

// The table, in the order of Setting.
inline constexpr SettingRow kSettingsTable[] = {
    {Setting::Folder, u"Folder", SettingType::Text, SettingDefault::AtReading, nullptr, 0},
    {Setting::WinHeight, u"WinHeight", SettingType::Integer, SettingDefault::AtReading, nullptr, 0},
    {Setting::WinWidth, u"WinWidth", SettingType::Integer, SettingDefault::AtReading, nullptr, 0},
    {Setting::TreeHeight, u"TreeHeight", SettingType::Integer, SettingDefault::AtReading, nullptr, 0},
    {Setting::TreeWidth, u"TreeWidth", SettingType::Integer, SettingDefault::AtReading, nullptr, 0},
    {Setting::FileListWidth, u"FileListWidth", SettingType::Integer, SettingDefault::Fixed, nullptr, 271},
    {Setting::UpdatePath, u"updatepath", SettingType::Text, SettingDefault::Fixed, kDefaultUpdatePath, 0},
    {Setting::LastUpdate, u"lastupdate", SettingType::Text, SettingDefault::Fixed, u"", 0},
    {Setting::PollInterval, u"PollInterval", SettingType::Integer, SettingDefault::Fixed, nullptr, 5},
};

static_assert(
    [] {
        int i = 0;
        for (const SettingRow &row : kSettingsTable) {
            if (int(row.setting) != i++)
                return false;
        }
        return true;
    }(),
    "kSettingsTable must list the settings in the order of Setting");

constexpr const SettingRow &settingRow(Setting setting)
{
    return kSettingsTable[int(setting)];
}

// The name a setting is stored under.
inline QString settingName(Setting setting)
{
    return settingRow(setting).key();
}

} // namespace sheafline
