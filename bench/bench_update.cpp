// The update check's cost at start-up: against a local server with nothing
// new (baseline), with a signed 1 MiB package to fetch and verify, and
// against the default server address, which cannot be reached here; and the
// signature check of a large package against reading it once.
#include "BenchSupport.h"

#include "tests/update/FakeSettings.h"
#include "update/BoundedDownloader.h"
#include "update/PackageSignature.h"
#include "update/UpdateChecker.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

namespace {

// Answers every request with the body of its path (or 404), then closes.
// The request may come in several pieces: it is answered once its header
// block is complete.
class TinyServer
{
public:
    TinyServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    const QByteArray head = s->property("head").toByteArray() + s->readAll();
                    if (s->property("answered").toBool())
                        return;
                    if (!head.contains("\r\n\r\n")) {
                        s->setProperty("head", head);
                        return;
                    }
                    s->setProperty("answered", true);
                    const QByteArray path = head.split(' ').value(1);
                    const bool found = bodies.contains(path);
                    const QByteArray body = bodies.value(path, "no");
                    s->write("HTTP/1.1 " + QByteArray(found ? "200" : "404") + " X\r\nContent-Length: "
                             + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    s->disconnectFromHost();
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    QHash<QByteArray, QByteArray> bodies;

private:
    QTcpServer m_server;
};

// One check into a fresh work folder, in milliseconds.  The program folder
// is one the updater may replace, so the package is fetched and verified.
double timeCheck(const QString &webPath, FakeSettings &settings, const UpdateTrust &trust)
{
    QTemporaryDir dir;
    const QString runPath = dir.filePath(QStringLiteral("work/"));
    UpdateChecker checker(settings, {webPath, runPath, dir.path() + QStringLiteral("/"), QStringLiteral("x")},
                          trust);
    QString zip;
    QElapsedTimer clock;
    clock.start();
    checker.check(zip);
    return clock.nsecsElapsed() / 1e6;
}

// What the check did before packages were signed, in milliseconds: the list
// and the package fetched, nothing verified.
double timeUnsignedFetch(const QString &webPath)
{
    QTemporaryDir dir;
    QElapsedTimer clock;
    clock.start();
    const DownloadLimits limits = downloadLimits(UpdateTimeouts(), QDeadlineTimer(15000));
    BoundedDownloader::download(QUrl(webPath + QStringLiteral("/lastupdate")), dir.filePath(QStringLiteral("lastupdate")),
                                limits);
    BoundedDownloader::download(QUrl(webPath + QStringLiteral("/pkg-2.tar")), dir.filePath(QStringLiteral("pkg-2.tar")),
                                limits);
    return clock.nsecsElapsed() / 1e6;
}

// Milliseconds to read `path` once, in 1 MiB pieces.
double timeRead(const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    qint64 sum = 0;
    while (qint64 n = file.read(chunk.data(), chunk.size())) {
        if (n < 0)
            break;
        sum += chunk.at(0);
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    return sum == -1 ? 0 : ms; // keeps the reads
}

int run(const QStringList &)
{
    const PackageSignature::KeyPair key = PackageSignature::makeKeyPair();
    const UpdateTrust trust{key.publicKey, QVersionNumber(1)};
    QTemporaryDir scratch;
    const QString small = scratch.filePath(QStringLiteral("pkg-2.tar"));
    {
        QFile f(small);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(1024 * 1024, 'p'));
    }
    TinyServer server;
    server.bodies.insert("/soft/x/lastupdate", "pkg-2.tar\r\n");
    server.bodies.insert("/soft/x/pkg-2.tar", QByteArray(1024 * 1024, 'p'));
    server.bodies.insert("/soft/x/pkg-2.tar.sig", *PackageSignature::sign(small, QStringLiteral("pkg-2.tar"), key.secretKey));
    const QString local = server.base() + QStringLiteral("/soft/x");
    const QString unreachable = QString::fromUtf16(kDefaultUpdatePath) + QStringLiteral("x");

    QList<double> nothingNew, withPackage, unsignedFetch, defaultServer;
    for (int i = 0; i < 15; ++i) {
        FakeSettings same;
        same.setLastUpdate(QStringLiteral("pkg-2.tar"));
        nothingNew << timeCheck(local, same, trust);
        FakeSettings older;
        older.setLastUpdate(QStringLiteral("pkg-1.tar"));
        withPackage << timeCheck(local, older, trust);
        unsignedFetch << timeUnsignedFetch(local);
        FakeSettings fresh;
        defaultServer << timeCheck(unreachable, fresh, trust);
    }

    // A 64 MiB package: its signature check against one plain read.
    const QString large = scratch.filePath(QStringLiteral("pkg-3.tar"));
    {
        QFile f(large);
        f.open(QIODevice::WriteOnly);
        const QByteArray mib(1024 * 1024, 'q');
        for (int i = 0; i < 64; ++i)
            f.write(mib);
    }
    const QByteArray largeSignature = *PackageSignature::sign(large, QStringLiteral("pkg-3.tar"), key.secretKey);
    QList<double> reads, verifies;
    for (int i = 0; i < 7; ++i) {
        reads << timeRead(large);
        QElapsedTimer clock;
        clock.start();
        const bool good = PackageSignature::verify(large, QStringLiteral("pkg-3.tar"), largeSignature, key.publicKey)
                       == PackageSignature::Verdict::Good;
        verifies << (good ? clock.nsecsElapsed() / 1e6 : -1);
    }
    const double base = bench::median(nothingNew);
    bench::report("check_local_nothing_new_ms_median", base);
    bench::report("check_local_1MiB_package_ms_median", bench::median(withPackage));
    bench::report("unsigned_fetch_1MiB_package_ms_median", bench::median(unsignedFetch));
    bench::report("ratio_signed_check_vs_unsigned_fetch_1MiB", bench::median(withPackage) / bench::median(unsignedFetch));
    bench::report("check_default_server_no_network_ms_median", bench::median(defaultServer));
    bench::report("check_default_server_no_network_ms_p90", bench::percentile(defaultServer, 90));
    bench::report("ratio_1MiB_package_vs_nothing_new", bench::median(withPackage) / base);
    bench::report("ratio_default_server_vs_nothing_new", bench::median(defaultServer) / base);
    bench::report("read_64MiB_ms_median", bench::median(reads));
    bench::report("verify_64MiB_ms_median", bench::median(verifies));
    bench::report("ratio_verify_vs_read_64MiB", bench::median(verifies) / bench::median(reads));
    return 0;
}

} // namespace

SHEAFLINE_BENCH("update", "cost of the update check: local server, 1 MiB package, unreachable default server", run);
