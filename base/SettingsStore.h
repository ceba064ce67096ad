#pragma once

#include "base/SettingsTable.h"

#include <QString>

// The settings store: named values in the user's own settings, read with a
// default that is stored when the value is missing, written one at a time.
//
// Values are kept through QSettings (native format, filed under the maker and
// the program's name, base/ProgramName.h), or in one given file.  Every
// operation opens a fresh store, syncs it and closes it again; nothing is
// cached between calls, so two stores on the same file see each other's
// writes.  Integers and Booleans are kept as decimal text.  Failures are
// thrown as AppError with the message the user sees, naming the value.
//
// Cheap to copy.  UI thread only.
class SettingsStore
{
public:
    // The user's own settings.
    SettingsStore();
    // The settings kept in `file` (INI format); for tests and tools that must
    // not touch the user's settings.
    explicit SettingsStore(const QString &file);

    // ---- By the settings table ----
    // Rows with a fixed default.
    QString readText(sheafline::Setting setting) const;
    int readInteger(sheafline::Setting setting) const;
    // Rows whose default the reader gives (the window's size as it is now).
    QString readText(sheafline::Setting setting, const QString &def) const;
    int readInteger(sheafline::Setting setting, int def) const;
    void write(sheafline::Setting setting, const QString &value) const;
    void write(sheafline::Setting setting, int value) const;

    // ---- By name ----
    QString readString(const QString &name, const QString &def) const;
    int readInteger(const QString &name, int def) const;
    bool readBoolean(const QString &name, bool def) const;
    void writeString(const QString &name, const QString &value) const;
    void writeInteger(const QString &name, int value) const;
    void writeBoolean(const QString &name, bool value) const;

    // The file given at construction; empty for the user's own settings.
    QString file() const { return m_file; }

private:
    QString m_file;
};
