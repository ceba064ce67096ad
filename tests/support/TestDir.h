#pragma once

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

// A temporary folder tree for one test, removed when the fixture dies.
// Paths given to the helpers are relative to the root; parent folders are
// created as needed.
class TestDir
{
public:
    TestDir();

    bool isValid() const { return m_dir.isValid(); }
    // Root folder, without a trailing delimiter.
    QString path() const { return m_dir.path(); }
    // Absolute path of a relative entry.
    QString path(const QString &relative) const;

    // Creates a folder (and its parents); returns its absolute path.
    QString mkdir(const QString &relative);
    // Creates or overwrites a file with the given bytes; returns its absolute path.
    QString writeFile(const QString &relative, const QByteArray &contents = {});
    // The same for a program (a script): its owner may run it.
    QString writeProgram(const QString &relative, const QByteArray &contents);
    // Contents of a file (a relative entry, or an absolute path taken as
    // written); "<missing>" when it cannot be read, so a missing file never
    // compares equal to an empty one.
    QByteArray readFile(const QString &relative) const;
    // Sets the last-write time of an existing entry.
    bool setModified(const QString &relative, const QDateTime &when);
    // Creates a symbolic link at `relative` pointing to `target` (taken as written).
    bool symlink(const QString &target, const QString &relative);

private:
    QTemporaryDir m_dir;
};
