#include "update/UpdateChecker.h"

#include "update/BoundedDownloader.h"
#include "update/DownloadProgress.h"
#include "update/InstallPlace.h"
#include "update/LastUpdateFile.h"
#include "update/PackageName.h"
#include "update/PackageSignature.h"
#include "update/PendingUpdate.h"
#include "update/ReleaseOrder.h"
#include "update/UpdateSettings.h"
#include "update/WorkFolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

namespace {

// A signature is 64 bytes; a little more is read so that a longer answer
// shows as malformed rather than as cut to size.
constexpr qint64 kMaxSignatureBytes = 1024;

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray bytes = file.read(kMaxSignatureBytes);
    // Not null, so that an empty file reads as a malformed signature.
    if (bytes.isNull())
        bytes = QByteArray("");
    return bytes;
}

} // namespace

UpdateChecker::UpdateChecker(UpdateSettings &settings, UpdatePaths paths, UpdateTrust trust, UpdateTimeouts timeouts,
                             ProgressFactory progress)
    : m_settings(settings), m_paths(std::move(paths)), m_trust(std::move(trust)), m_timeouts(timeouts),
      m_progress(std::move(progress))
{
}

UpdateCheck::Refusal signatureRefusal(PackageSignature::Verdict verdict)
{
    switch (verdict) {
    case PackageSignature::Verdict::Missing:
        return UpdateCheck::Refusal::SignatureMissing;
    case PackageSignature::Verdict::Malformed:
        return UpdateCheck::Refusal::SignatureMalformed;
    default:
        return UpdateCheck::Refusal::SignatureWrong;
    }
}

DownloadLimits downloadLimits(const UpdateTimeouts &timeouts, QDeadlineTimer deadline)
{
    DownloadLimits limits;
    limits.connectMs = timeouts.connectMs;
    limits.inactivityMs = timeouts.inactivityMs;
    limits.deadline = deadline;
    return limits;
}

QString UpdateChecker::fetchIncoming(const QString &name, const DownloadLimits &limits, DownloadProgress *progress)
{
    // Never under the package's own name: that name is given only to bytes
    // whose signature has been verified.
    static int serial = 0;
    const QString path = m_paths.runPath
                       + QStringLiteral(".incoming-%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial);
    if (!BoundedDownloader::download(QUrl(m_paths.webPath + QLatin1Char('/') + name), path, limits, progress))
        return QString();
    return path;
}

UpdateCheck UpdateChecker::check(QString &zipFile)
{
    UpdateCheck result;
    result.running = m_trust.runningVersion;
    result.programFolder = m_paths.folderName;
    // First of all, whether the last replacement happened: this decides
    // "lastupdate", which the comparison below reads.
    PendingUpdate::settle(m_settings, m_paths.runPath, m_trust.runningVersion);

    // The value read here only switches the check on or off; the addresses
    // come from webPath, fixed at start-up.
    if (m_settings.updatePath().isEmpty())
        return result;
    if (!WorkFolder::prepare(m_paths.runPath))
        return result;

    const QDeadlineTimer budget(m_timeouts.checkBudgetMs);
    DownloadLimits list = downloadLimits(m_timeouts, qMin(budget, QDeadlineTimer(m_timeouts.listDeadlineMs)));
    list.maxBytes = LastUpdateFile::kMaxBytes;
    const QString listFile = m_paths.runPath + LastUpdateFile::fileName();
    // A failed download leaves the copy of an earlier check, which is used.
    BoundedDownloader::download(QUrl(m_paths.webPath + QLatin1Char('/') + LastUpdateFile::fileName()), listFile,
                                list);

    QFile file(listFile);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QString firstLine = LastUpdateFile::firstLine(file.read(LastUpdateFile::kMaxBytes));
    file.close();
    if (!isPackageName(firstLine)) {
        zipFile.clear();
        return result;
    }
    zipFile = firstLine;

    if (!isNewerRelease(zipFile, m_settings.lastUpdate()))
        return result;
    const QString signatureName = PackageSignature::signatureName(zipFile);
    // Its signature must be a file the work folder can hold too.
    if (!isPackageName(signatureName))
        return result;
    result.zipFile = zipFile;
    result.lastFailure = PendingUpdate::failureOf(m_paths.runPath, zipFile);

    const auto refuse = [&result](UpdateCheck::Refusal why) {
        result.outcome = UpdateCheck::Outcome::Refused;
        result.refusal = why;
        return result;
    };
    // A name is not yet proof of anything, but refusing on its word is safe:
    // an older release handed over again is never fetched.
    const QVersionNumber version = packageVersion(zipFile);
    if (version.isNull())
        return refuse(UpdateCheck::Refusal::NoVersion);
    if (QVersionNumber::compare(version.normalized(), m_trust.runningVersion.normalized()) <= 0)
        return refuse(UpdateCheck::Refusal::NotNewer);

    switch (InstallPlace::probe(m_paths.folderName)) {
    case InstallPlace::Kind::SystemPackage:
        result.outcome = UpdateCheck::Outcome::SystemPackage;
        return result;
    case InstallPlace::Kind::ReadOnlyFolder:
        result.outcome = UpdateCheck::Outcome::ReadOnlyFolder;
        return result;
    case InstallPlace::Kind::SelfUpdating:
        break;
    }
    if (m_trust.publicKey.size() != PackageSignature::kPublicKeyBytes) {
        result.outcome = UpdateCheck::Outcome::NoKey;
        return result;
    }

    // The signature: the server's, or, when the server gives none, the copy
    // kept beside a package verified earlier.
    const QString package = m_paths.runPath + zipFile;
    const QString keptSignature = m_paths.runPath + signatureName;
    DownloadLimits signatureLimits = downloadLimits(m_timeouts, budget);
    signatureLimits.maxBytes = kMaxSignatureBytes;
    QByteArray signature;
    const QString incomingSignature = fetchIncoming(signatureName, signatureLimits);
    if (!incomingSignature.isEmpty()) {
        signature = readSmallFile(incomingSignature);
        QFile::remove(incomingSignature);
    } else if (QFileInfo::exists(keptSignature)) {
        signature = readSmallFile(keptSignature);
    }
    if (signature.isNull())
        return refuse(UpdateCheck::Refusal::SignatureMissing);
    if (signature.size() != PackageSignature::kSignatureBytes)
        return refuse(UpdateCheck::Refusal::SignatureMalformed);

    const auto keepSignature = [&] {
        if (readSmallFile(keptSignature) == signature)
            return true;
        QSaveFile out(keptSignature);
        out.setDirectWriteFallback(false);
        return out.open(QIODevice::WriteOnly) && out.write(signature) == signature.size() && out.commit();
    };

    // A package already in the work folder counts only when it is this
    // signature's; anything else there is not this release and goes.
    if (QFileInfo::exists(package)) {
        if (PackageSignature::verify(package, zipFile, signature, m_trust.publicKey)
                == PackageSignature::Verdict::Good
            && keepSignature()) {
            result.outcome = UpdateCheck::Outcome::Ready;
            return result;
        }
        QFile::remove(package);
        QFile::remove(keptSignature);
    }

    DownloadLimits limits = downloadLimits(m_timeouts, budget);
    limits.failAboveBytes = m_timeouts.maxPackageBytes;
    std::unique_ptr<DownloadProgress> progress = m_progress ? m_progress() : nullptr;
    const QString incoming = fetchIncoming(zipFile, limits, progress.get());
    progress.reset();
    if (incoming.isEmpty()) {
        result.outcome = UpdateCheck::Outcome::NotDownloaded;
        return result;
    }
    const PackageSignature::Verdict verdict =
        PackageSignature::verify(incoming, zipFile, signature, m_trust.publicKey);
    if (verdict != PackageSignature::Verdict::Good) {
        QFile::remove(incoming);
        if (verdict == PackageSignature::Verdict::Unreadable) {
            result.outcome = UpdateCheck::Outcome::NotDownloaded;
            return result;
        }
        return refuse(signatureRefusal(verdict));
    }
    QFile::remove(package);
    if (!keepSignature() || !QFile::rename(incoming, package)) {
        QFile::remove(incoming);
        QFile::remove(keptSignature);
        result.outcome = UpdateCheck::Outcome::NotDownloaded;
        return result;
    }
    result.outcome = UpdateCheck::Outcome::Ready;
    return result;
}
