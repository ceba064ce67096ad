#pragma once

#include "FakeSettings.h"
#include "TestHttpServer.h"
#include "support/TestDir.h"

#include "update/UpdateChecker.h"

#include <QDir>
#include <QUrl>

#include <memory>

// The ground every update case starts from: an empty temporary folder with
// the work folder below it, a server on 127.0.0.1 serving the program's
// folder "/soft/<program>/", and settings in memory.  A test class derives
// from it and calls freshCase() in its init().
class UpdateTestBase
{
protected:
    // Starts a new case for `program`, installed in `programFolder` (a folder
    // below the temporary one when relative).  False when the server cannot listen.
    bool freshCase(const QString &program, const QString &programFolder)
    {
        m_root = std::make_unique<TestDir>();
        m_server = std::make_unique<TestHttpServer>();
        m_settings = FakeSettings();
        m_program = program;
        m_progDir = QDir::isAbsolutePath(programFolder) ? programFolder : m_root->path(programFolder);
        m_runPath = m_root->path(QStringLiteral("work/") + program + QLatin1Char('/'));
        return m_server->listen();
    }

    UpdatePaths paths() const
    {
        return {m_server->baseUrl() + QStringLiteral("/soft/") + m_program, m_runPath, m_progDir, m_program};
    }
    // Request path of a file in the program's server folder.
    QByteArray serverPath(const QString &name) const
    {
        return QUrl(m_server->baseUrl() + QStringLiteral("/soft/") + m_program + QLatin1Char('/') + name)
            .path(QUrl::FullyEncoded)
            .toUtf8();
    }

    std::unique_ptr<TestDir> m_root;
    std::unique_ptr<TestHttpServer> m_server;
    FakeSettings m_settings;
    QString m_program;
    QString m_progDir; // trailing delimiter
    QString m_runPath; // trailing delimiter
};
