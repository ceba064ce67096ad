#pragma once

#include "FakeSettings.h"
#include "TestHttpServer.h"
#include "support/TestDir.h"

#include "update/PackageSignature.h"
#include "update/UpdateChecker.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QUrl>

#include <memory>

// The ground every update case starts from: an empty temporary folder with
// the work folder below it, a server on 127.0.0.1 serving the program's
// folder "/soft/<program>/", settings in memory, and a signing key made for
// this test run that the updater trusts, with a running version of 0.9.  A
// test class derives from it and calls freshCase() in its init().
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
        m_running = QVersionNumber(0, 9);
        return m_server->listen();
    }

    // The key made for this run (libsodium's crypto_sign_keypair).
    static const PackageSignature::KeyPair &testKey()
    {
        static const PackageSignature::KeyPair key = PackageSignature::makeKeyPair();
        return key;
    }
    UpdateTrust trust() const { return {testKey().publicKey, m_running}; }

    // The signature of `bytes` published as `name`, with `secretKey` (the
    // test key unless given).
    QByteArray signatureOf(const QString &name, const QByteArray &bytes, const QByteArray &secretKey = {}) const
    {
        // Outside the case's folder, whose contents the tests compare.
        QTemporaryFile file;
        if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
            return QByteArray("<not signed>");
        const std::optional<QByteArray> signature =
            PackageSignature::sign(file.fileName(), name, secretKey.isEmpty() ? testKey().secretKey : secretKey);
        return signature.value_or(QByteArray("<not signed>"));
    }
    // Serves `bytes` as the package `name` with its signature beside it.
    void serveSigned(const QString &name, const QByteArray &bytes)
    {
        m_server->setRoute(serverPath(name), bytes);
        m_server->setRoute(serverPath(PackageSignature::signatureName(name)), signatureOf(name, bytes));
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
    QVersionNumber m_running{0, 9};
};
