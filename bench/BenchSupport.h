#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The benchmark program: one subcommand per area, registered from that area's
// file with SHEAFLINE_BENCH.  Each figure is printed as "name: value".
namespace bench {

using Command = std::function<int(const QStringList &args)>;

struct Registrar
{
    Registrar(const char *name, const char *help, Command command);
};

// Prints one figure as "name: value".
void report(const char *name, double value);
// Prints a figure that is a text (a file name with its value, say).
void reportText(const char *name, const QString &text);

// Median and percentile (0..100, nearest rank) of a sample; 0 for an empty one.
double median(QList<double> values);
double percentile(QList<double> values, double p);

// Resident set size of this process now and at its peak, in kilobytes (Linux /proc).
qint64 currentRssKb();
qint64 peakRssKb();
// The same for this process and every process it started (the render helper,
// a browser engine's processes) together; the peak is the sum of each
// process's own peak, so it counts a child that has ended no more.
qint64 treeRssKb();
qint64 treePeakRssKb();

// The real-world PDF corpus when present (../shared/corpus/pdfjs beside the
// source tree, or $SHEAFLINE_CORPUS); empty when absent.
QString corpusFolder();

// The PDF files of a folder (absolute paths), in name order.
QStringList pdfFiles(const QString &folder);

// Runs the event loop until done() or the timeout (ms); returns done().  The
// thread sleeps between events as the program's own event loop does: a loop
// that polled would take a core from the render threads being measured.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);

} // namespace bench

#define SHEAFLINE_BENCH_CAT2(a, b) a##b
#define SHEAFLINE_BENCH_CAT(a, b) SHEAFLINE_BENCH_CAT2(a, b)
#define SHEAFLINE_BENCH(name, help, fn) \
    static const ::bench::Registrar SHEAFLINE_BENCH_CAT(benchRegistrar_, __LINE__)(name, help, fn)
