#include "BenchSupport.h"
#include "ProcessTree.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

struct Entry
{
    QString help;
    Command command;
};

QMap<QString, Entry> &registry()
{
    static QMap<QString, Entry> commands;
    return commands;
}

Registrar::Registrar(const char *name, const char *help, Command command)
{
    registry().insert(QString::fromUtf8(name), Entry{QString::fromUtf8(help), std::move(command)});
}

void report(const char *name, double value)
{
    std::printf("%s: %.4g\n", name, value);
    std::fflush(stdout);
}

void reportText(const char *name, const QString &text)
{
    std::printf("%s: %s\n", name, text.toUtf8().constData());
    std::fflush(stdout);
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype rank = qBound<qsizetype>(
        1, static_cast<qsizetype>(std::ceil(p / 100.0 * values.size())), values.size());
    return values.at(rank - 1);
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

static qint64 statusField(const char *field, const QString &process = QStringLiteral("self"))
{
    QFile f(QStringLiteral("/proc/%1/status").arg(process));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

qint64 currentRssKb() { return statusField("VmRSS"); }
qint64 peakRssKb() { return statusField("VmHWM"); }

qint64 treeRssKb() { return ProcessTree::rssKb(ProcessTree::ownPids()); }

qint64 treePeakRssKb()
{
    qint64 total = 0;
    for (qint64 pid : ProcessTree::ownPids())
        total += statusField("VmHWM", QString::number(pid));
    return total;
}

QString corpusFolder()
{
    const QString env = qEnvironmentVariable("SHEAFLINE_CORPUS");
    if (!env.isEmpty() && QDir(env).exists())
        return env;
    const QString beside = QStringLiteral(SHEAFLINE_SOURCE_DIR "/../shared/corpus/pdfjs");
    return QDir(beside).exists() ? QDir(beside).canonicalPath() : QString();
}

QStringList pdfFiles(const QString &folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.pdf"), QStringLiteral("*.PDF")}, QDir::Files, QDir::Name))
        files << dir.absoluteFilePath(name);
    return files;
}

int dispatch(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString area = args.value(0);
    const auto it = registry().constFind(area);
    if (it == registry().constEnd()) {
        QTextStream err(stderr);
        err << "usage: sheafline-bench <area> [args]\nareas:\n";
        for (auto e = registry().constBegin(); e != registry().constEnd(); ++e)
            err << "  " << e.key() << "  " << e.value().help << "\n";
        return area.isEmpty() ? 0 : 2;
    }
    return it->command(args.mid(1));
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    QTimer tick; // wakes the loop to look at the clock
    tick.start(5);
    QEventLoop loop;
    while (!done() && t.elapsed() < timeoutMs)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

} // namespace bench
