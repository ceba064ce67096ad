#include "update/Updater.h"

#include "update/BoundedDownloader.h"
#include "update/DownloadProgress.h"
#include "update/InstallPlace.h"
#include "update/PackageName.h"
#include "update/PackageSignature.h"
#include "update/SelfUpdater.h"
#include "update/UpdateNotice.h"
#include "update/UpdateUi.h"

#include <QCoreApplication>
#include <QFile>
#include <QUrl>

UpdateCheck NetworkUpdater::check(const UpdatePaths &paths, QString &zipFile, UpdateUi &ui)
{
    UpdateChecker checker(m_settings, paths, m_trust, UpdateTimeouts(),
                          [&ui] { return ui.createDownloadProgress(); });
    return checker.check(zipFile);
}

UpdateStart NetworkUpdater::runUpdate(const UpdatePaths &paths, const QString &zipFile, UpdateUi &ui)
{
    // The check said so a moment ago, but what the script unpacks is the
    // file in the work folder as it is now.
    if (InstallPlace::probe(paths.folderName) != InstallPlace::Kind::SelfUpdating
        || m_trust.publicKey.size() != PackageSignature::kPublicKeyBytes)
        return {false, startFailureText()};
    const QVersionNumber version = packageVersion(zipFile);
    if (version.isNull()
        || QVersionNumber::compare(version.normalized(), m_trust.runningVersion.normalized()) <= 0)
        return {false, refusalText(zipFile, UpdateCheck::Refusal::NotNewer, m_trust.runningVersion)};
    const QString package = paths.runPath + zipFile;
    const QString signaturePath = paths.runPath + PackageSignature::signatureName(zipFile);
    QByteArray signature;
    QFile signatureFile(signaturePath);
    if (signatureFile.open(QIODevice::ReadOnly))
        signature = signatureFile.read(PackageSignature::kSignatureBytes + 1);
    signatureFile.close();
    const PackageSignature::Verdict verdict =
        PackageSignature::verify(package, zipFile, signature, m_trust.publicKey);
    if (verdict == PackageSignature::Verdict::Unreadable)
        return {false, startFailureText()};
    if (verdict != PackageSignature::Verdict::Good) {
        QFile::remove(package);
        QFile::remove(signaturePath);
        return {false, refusalText(zipFile, signatureRefusal(verdict), m_trust.runningVersion)};
    }

    ui.showRestartNotice(QStringLiteral("アップデート後システムを再起動します"));
    if (!SelfUpdater::install(paths, zipFile, QCoreApplication::applicationPid()))
        return {false, startFailureText()};
    ui.requestQuit();
    return {true, QString()};
}
