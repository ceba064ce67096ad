#include "update/BoundedDownloader.h"

#include "update/DownloadProgress.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>

#include <memory>

bool BoundedDownloader::download(const QUrl &url, const QString &fileName, const DownloadLimits &limits,
                                 DownloadProgress *progress)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    if (limits.deadline.hasExpired())
        return false;

    QSaveFile out(fileName);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return false;

    // A manager of its own, without a cache, so that nothing of an earlier
    // answer can come back.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    // The bytes as stored on the server: no transparent decompression that
    // could turn a small answer into a huge file.
    request.setRawHeader("Accept-Encoding", "identity");

    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    // Precise timers: coarse ones may fire up to 5 % early or late, which on
    // the whole deadline would be most of a second.
    QTimer idle;
    idle.setSingleShot(true);
    idle.setTimerType(Qt::PreciseTimer);
    QTimer overall;
    overall.setSingleShot(true);
    overall.setTimerType(Qt::PreciseTimer);

    bool stopped = false; // timed out, cancelled or write error
    bool capped = false;
    qint64 written = 0;

    const auto stop = [&] {
        stopped = true;
        reply->abort();
    };
    const auto drain = [&] {
        while (!stopped && !capped && reply->bytesAvailable() > 0) {
            qint64 want = reply->bytesAvailable();
            if (limits.maxBytes >= 0)
                want = qMin(want, limits.maxBytes - written);
            const QByteArray chunk = reply->read(want);
            if (out.write(chunk) != chunk.size()) {
                stop();
                return;
            }
            written += chunk.size();
            if (limits.failAboveBytes >= 0 && written > limits.failAboveBytes) {
                stop();
                return;
            }
            if (limits.maxBytes >= 0 && written >= limits.maxBytes && (reply->bytesAvailable() > 0 || !reply->isFinished())) {
                capped = true;
                reply->abort();
            }
        }
    };

    QObject::connect(&idle, &QTimer::timeout, &loop, stop);
    QObject::connect(&overall, &QTimer::timeout, &loop, stop);
    QObject::connect(reply.get(), &QNetworkReply::requestSent, &loop, [&] { idle.start(limits.inactivityMs); });
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] { idle.start(limits.inactivityMs); });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        idle.start(limits.inactivityMs);
        drain();
    });
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64 total) {
        if (progress)
            progress->update(received, total);
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);

    if (progress)
        progress->start(url.fileName(), [&] { stop(); });
    if (!reply->isFinished()) {
        idle.start(limits.connectMs);
        if (!limits.deadline.isForever())
            overall.start(int(qBound<qint64>(0, limits.deadline.remainingTime(), qint64(INT_MAX))));
        // Without a progress window nothing may reach the main window
        // meanwhile; with one, that window is modal and keeps input to itself.
        loop.exec(progress ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    }
    idle.stop();
    overall.stop();
    drain();
    if (progress)
        progress->finish();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool complete = capped || reply->error() == QNetworkReply::NoError;
    if (stopped || !complete || status < 200 || status > 299) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
