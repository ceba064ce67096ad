// The update check's cost at start-up: against a local server with nothing
// new (baseline), with a 1 MiB package to fetch, and against the default
// server address, which cannot be reached here.
#include "BenchSupport.h"

#include "tests/update/FakeSettings.h"
#include "update/UpdateChecker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

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

// One check into a fresh work folder, in milliseconds.
double timeCheck(const QString &webPath, FakeSettings &settings)
{
    QTemporaryDir dir;
    const QString runPath = dir.filePath(QStringLiteral("work/"));
    UpdateChecker checker(settings, {webPath, runPath, QStringLiteral("/opt/x/"), QStringLiteral("x")});
    QString zip;
    QElapsedTimer clock;
    clock.start();
    checker.check(zip);
    return clock.nsecsElapsed() / 1e6;
}

int run(const QStringList &)
{
    TinyServer server;
    server.bodies.insert("/soft/x/lastupdate", "pkg-2.tar\r\n");
    server.bodies.insert("/soft/x/pkg-2.tar", QByteArray(1024 * 1024, 'p'));
    const QString local = server.base() + QStringLiteral("/soft/x");
    const QString unreachable = QString::fromUtf16(kDefaultUpdatePath) + QStringLiteral("x");

    QList<double> nothingNew, withPackage, defaultServer;
    for (int i = 0; i < 15; ++i) {
        FakeSettings same;
        same.setLastUpdate(QStringLiteral("pkg-2.tar"));
        nothingNew << timeCheck(local, same);
        FakeSettings older;
        older.setLastUpdate(QStringLiteral("pkg-1.tar"));
        withPackage << timeCheck(local, older);
        FakeSettings fresh;
        defaultServer << timeCheck(unreachable, fresh);
    }
    const double base = bench::median(nothingNew);
    bench::report("check_local_nothing_new_ms_median", base);
    bench::report("check_local_1MiB_package_ms_median", bench::median(withPackage));
    bench::report("check_default_server_no_network_ms_median", bench::median(defaultServer));
    bench::report("check_default_server_no_network_ms_p90", bench::percentile(defaultServer, 90));
    bench::report("ratio_1MiB_package_vs_nothing_new", bench::median(withPackage) / base);
    bench::report("ratio_default_server_vs_nothing_new", bench::median(defaultServer) / base);
    return 0;
}

} // namespace

SHEAFLINE_BENCH("update", "cost of the update check: local server, 1 MiB package, unreachable default server", run);
