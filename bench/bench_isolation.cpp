// sheafline-bench isolation [folder]
//
// The view control with the engine in the confined helper process against the
// same control with the engine in-process, in one run:
// 1. open: ReadPDF -> first page painted, each openable file three times per
//    engine (alternating which goes first); isolation_open_ratio is the
//    helper's median over the in-process median of each file's first open;
//    isolation_open_ratio_best_of_rounds the same over each file's fastest
//    open (what the hand-over costs without the machine's scheduling noise);
// 2. stepping: Enter -> first page painted while stepping through the folder
//    with the background preparation of the next file, each walk in a fresh
//    child process (sheafline-bench isolation-walk), in three rounds of one
//    walk per engine; isolation_step_p95_ratio compares the medians of the
//    rounds' p95s; isolation_step_p95_ratio_best_of_rounds compares the p95s
//    of each file's fastest step over the rounds (what the helper adds to the
//    slow steps without the machine's scheduling noise: one walk's p95 falls
//    among steps that were slow only in that walk);
// 3. memory: the peak resident size of each walk's process, the helper's own
//    peak added for the helper's walk (an upper bound: the two peaks need not
//    fall together); isolation_rss_extra_mb is the median over the rounds of
//    the difference;
// 4. what the kernel is asked to do: helper_context_switches_per_open is the
//    median over the helper's walks of the context switches of the program
//    (all its threads, getrusage) and of the helper (each thread's
//    voluntary and nonvoluntary switches in /proc) per file stepped to
//    (helper_context_switches_per_open_in_helper: the helper's part);
//    helper_syscalls_per_open counts the system calls of both processes with
//    `strace -f -c` over a fixed walk of the first 2n files and of the first
//    n, the difference over n (what start-up costs drops out).  Each has its
//    in-process counterpart, the same walk with the engine in the program.
//    Stepping to a file opens it and prepares the next one;
// 5. the engine alone, without the view and its render queue:
//    isolation_engine_open_ratio_best_of_rounds compares the medians of each
//    file's fastest open with its first page drawn (sheafline-bench
//    isolation-engine prints only these figures).
#include "BenchSupport.h"

#include "viewer/DocumentDisplay.h"
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"
#include "viewer/isolated/PdfEngines.h"
#include "viewer/isolated/RenderHelper.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <sys/resource.h>

namespace {

struct DefaultMenu : ViewMenuChecks
{
    std::array<bool, 10> checks{false, true, false, false, false, false, true, false, false, true};
    bool isChecked(ViewItem item) const override { return checks[size_t(item)]; }
    void setChecked(ViewItem item, bool c) override { checks[size_t(item)] = c; }
};

qint64 statusKb(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid <= 0 || !status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// Context switches of every thread of a process that still runs.
qint64 threadSwitches(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    qint64 total = 0;
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(tid) + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

// Context switches of this process so far, threads that have ended included.
qint64 ownSwitches()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return qint64(u.ru_nvcsw) + qint64(u.ru_nivcsw);
}

// One view control on engines of its own, as the program has it.
struct Control
{
    explicit Control(PdfEngines::Kind kind) : engines(kind)
    {
        acro = new TAcroPDF(&window, TAcroPDF::defaultCacheBytes, engines.factory(),
                            [this](int ms) { engines.shortenWait(ms); });
        acro->resize(800, 600);
        window.resize(800, 600);
        window.show();
        hooks.viewer = [this]() -> PdfViewer * { return acro; };
        display = std::make_unique<DocumentDisplay>(menu, hooks);
        QObject::connect(acro, &TAcroPDF::documentShown, [this] { ++shown; });
        QObject::connect(acro->renderService(), &PdfRenderService::prepared,
                         [this](const QString &path) { preparedPaths << path; });
    }

    // ReadPDF, then the wait for the first page (or its message); ms, -1 on a 30 s timeout.
    double show(const QString &path)
    {
        shown = 0;
        QElapsedTimer t;
        t.start();
        display->readPdf(path);
        bench::waitUntil([this] { return shown != 0; }, 30000);
        return shown ? t.nsecsElapsed() / 1e6 : -1;
    }

    void reset()
    {
        acro->setSrc(QString());
        acro->renderService()->cache().clear();
    }

    PdfEngines engines;
    QWidget window;
    TAcroPDF *acro = nullptr;
    DefaultMenu menu;
    DocumentDisplay::Hooks hooks;
    std::unique_ptr<DocumentDisplay> display;
    int shown = 0;
    QStringList preparedPaths;
};

// Steps through the folder as a user does; the step time of each file, -1
// where the page did not come in time.
QList<double> walk(Control &c, const QStringList &files)
{
    QList<double> steps;
    c.reset();
    for (int i = 0; i < files.size(); ++i) {
        QStringList ahead{files.at(i)};
        if (i + 1 < files.size())
            ahead << files.at(i + 1);
        c.acro->prepare(ahead);
        steps << c.show(files.at(i));
        if (i + 1 < files.size()) {
            bench::waitUntil([&] { return c.preparedPaths.contains(files.at(i + 1)); }, 2000);
            c.preparedPaths.clear();
        }
    }
    c.reset();
    return steps;
}

// sheafline-bench isolation-walk inprocess|helper folder [files]: one walk in
// this process, through the first `files` files or all; prints the step
// times, the peak resident sizes and the context switches of the walk (the
// helper's over its life, which the walk starts).
int runWalk(const QStringList &args)
{
    if (args.size() != 2 && args.size() != 3)
        return 2;
    const bool helper = args.at(0) == QLatin1String("helper");
    QStringList files = bench::pdfFiles(args.at(1));
    if (args.size() == 3)
        files = files.mid(0, args.at(2).toInt());
    Control c(helper ? PdfEngines::Kind::Isolated : PdfEngines::Kind::InProcess);
    QCoreApplication::processEvents();
    const qint64 switchesBefore = ownSwitches();
    const QList<double> steps = walk(c, files);
    const qint64 helperPid = c.engines.helper() ? c.engines.helper()->pid() : 0;
    const qint64 helperSwitches = helperPid > 0 ? threadSwitches(helperPid) : 0;
    const qint64 switches = ownSwitches() - switchesBefore + helperSwitches;
    QTextStream out(stdout);
    out << "steps:";
    for (double ms : steps)
        out << ' ' << ms;
    out << "\npeak_kb: " << bench::peakRssKb() << "\nhelper_peak_kb: "
        << (helperPid > 0 ? statusKb(helperPid, "VmHWM:") : 0) << "\nswitches: " << switches
        << "\nhelper_switches: " << helperSwitches << "\n";
    return 0;
}

// The steps that finished.
QList<double> finished(const QList<double> &steps)
{
    QList<double> out;
    for (double ms : steps)
        if (ms >= 0)
            out << ms;
    return out;
}

// Each file's fastest finished step over the walks (all of one folder).
QList<double> fastestSteps(const QList<QList<double>> &walks)
{
    QList<double> out;
    for (qsizetype i = 0; !walks.isEmpty() && i < walks.first().size(); ++i) {
        double best = -1;
        for (const QList<double> &w : walks)
            if (w.value(i, -1) >= 0 && (best < 0 || w.at(i) < best))
                best = w.at(i);
        out << best;
    }
    return finished(out);
}

struct Walk
{
    QList<double> steps; // by file, -1 where the page did not come
    qint64 peakKb = 0;
    qint64 helperPeakKb = 0;
    qint64 switches = 0;       // context switches, both processes
    qint64 helperSwitches = 0; // those of the helper
};

Walk walkInChild(const QString &engine, const QString &folder)
{
    Walk w;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("isolation-walk"), engine, folder});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return w;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("steps:")) {
            for (const QByteArray &v : line.mid(6).simplified().split(' '))
                if (!v.isEmpty())
                    w.steps << v.toDouble();
        } else if (line.startsWith("peak_kb:")) {
            w.peakKb = line.mid(8).trimmed().toLongLong();
        } else if (line.startsWith("helper_peak_kb:")) {
            w.helperPeakKb = line.mid(15).trimmed().toLongLong();
        } else if (line.startsWith("switches:")) {
            w.switches = line.mid(9).trimmed().toLongLong();
        } else if (line.startsWith("helper_switches:")) {
            w.helperSwitches = line.mid(16).trimmed().toLongLong();
        }
    }
    return w;
}

// The system calls of a walk through the first `files` files in a child
// under `strace -f -c` (the helper included); -1 when it cannot be counted.
qint64 walkSyscalls(const QString &strace, const QString &engine, const QString &folder, int files)
{
    QTemporaryDir dir;
    const QString summary = dir.filePath(QStringLiteral("strace.txt"));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(strace, {QStringLiteral("-f"), QStringLiteral("-c"), QStringLiteral("-o"), summary,
                         QCoreApplication::applicationFilePath(), QStringLiteral("isolation-walk"), engine, folder,
                         QString::number(files)});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return -1;
    QFile f(summary);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // "100.00  0.1  1  12345  67 total": the calls are the fourth column.
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields.last() == "total")
            return fields.at(3).toLongLong();
    }
    return -1;
}

// System calls per file stepped to: a walk through 2n files less one through
// n, over n.
double syscallsPerOpen(const QString &strace, const QString &engine, const QString &folder, int n)
{
    const qint64 shorter = walkSyscalls(strace, engine, folder, n);
    const qint64 longer = walkSyscalls(strace, engine, folder, 2 * n);
    return shorter < 0 || longer < 0 ? -1 : double(longer - shorter) / n;
}

// The engine alone, without the view and its render queue: the time to open
// a file with its first page drawn as an 800 by 600 view lays it out, and to
// let go of it; -1 when it does not open.
double engineOpenMs(PdfEngines &engines, const QString &file)
{
    PdfFirstPage first;
    first.layout = PageLayout::Params{};
    first.layout->viewport = QSize(800, 600);
    QElapsedTimer t;
    t.start();
    const std::unique_ptr<PdfEngine> engine = engines.create();
    QImage page;
    const bool ok = engine->openWithFirstPage(file, {}, first, &page) == PdfOpenStatus::Ok && !page.isNull();
    engine->close();
    return ok ? t.nsecsElapsed() / 1e6 : -1;
}

// The medians over the files that open in both of each file's fastest
// engine open over openRounds, in-process and through the helper.
std::pair<double, double> engineOpens(PdfEngines &inProcess, PdfEngines &isolated, const QStringList &files);

// Files of the walks the system calls are counted over.
constexpr int syscallWalkFiles = 100;
constexpr int walkRounds = 3;
constexpr int openRounds = 3;

std::pair<double, double> engineOpens(PdfEngines &inProcess, PdfEngines &isolated, const QStringList &files)
{
    // As the render service and the helper do: pdfium stays set up.
    const std::shared_ptr<void> library = holdQtPdfLibrary();
    QList<double> engineIn, engineIso;
    for (const QString &file : files) {
        double in = -1, iso = -1;
        for (int round = 0; round < openRounds; ++round) {
            const double a = engineOpenMs(inProcess, file), b = engineOpenMs(isolated, file);
            in = in < 0 || (a >= 0 && a < in) ? a : in;
            iso = iso < 0 || (b >= 0 && b < iso) ? b : iso;
        }
        if (in > 0 && iso > 0) {
            engineIn << in;
            engineIso << iso;
        }
    }
    return {bench::median(engineIn), bench::median(engineIso)};
}

// sheafline-bench isolation-engine [folder]: only the engines' open figures.
int runEngine(const QStringList &args)
{
    const QString folder = args.isEmpty() ? bench::corpusFolder() : args.first();
    PdfEngines inProcess(PdfEngines::Kind::InProcess), isolated(PdfEngines::Kind::Isolated);
    const auto [in, iso] = engineOpens(inProcess, isolated, bench::pdfFiles(folder));
    bench::report("isolation_engine_open_ratio_best_of_rounds", in > 0 ? iso / in : 0);
    bench::report("engine_open_ms_best_of_rounds_inprocess", in);
    bench::report("engine_open_ms_best_of_rounds_helper", iso);
    return 0;
}

int run(const QStringList &args)
{
    const QString folder = args.isEmpty() ? bench::corpusFolder() : args.first();
    if (folder.isEmpty() || !QDir(folder).exists()) {
        QTextStream(stderr) << "usage: sheafline-bench isolation [folder]  (no corpus found)\n";
        return 2;
    }
    if (RenderHelper::helperPath().isEmpty()) {
        QTextStream(stderr) << "sheafline-render is missing\n";
        return 2;
    }
    const QStringList files = bench::pdfFiles(folder);
    if (files.isEmpty()) {
        QTextStream(stderr) << "no PDF files in " << folder << "\n";
        return 2;
    }

    // Walks in rounds, the engine that goes first alternating: a tail
    // figure of one walk follows whatever else the machine did meanwhile.
    // Each figure is the median over the rounds.
    QList<double> p95In, p95Iso, p50In, p50Iso, extraMb, peakIn, peakProgram, peakHelper, switchesIn, switchesIso,
        switchesHelper;
    QList<QList<double>> walksIn, walksIso;
    for (int round = 0; round < walkRounds; ++round) {
        Walk walkIn, walkIso;
        if (round % 2) {
            walkIso = walkInChild(QStringLiteral("helper"), folder);
            walkIn = walkInChild(QStringLiteral("inprocess"), folder);
        } else {
            walkIn = walkInChild(QStringLiteral("inprocess"), folder);
            walkIso = walkInChild(QStringLiteral("helper"), folder);
        }
        const QList<double> stepsIn = finished(walkIn.steps), stepsIso = finished(walkIso.steps);
        if (stepsIn.isEmpty() || stepsIso.isEmpty()) {
            QTextStream(stderr) << "a walk failed\n";
            return 1;
        }
        walksIn << walkIn.steps;
        walksIso << walkIso.steps;
        p95In << bench::percentile(stepsIn, 95);
        p95Iso << bench::percentile(stepsIso, 95);
        p50In << bench::median(stepsIn);
        p50Iso << bench::median(stepsIso);
        extraMb << (walkIso.peakKb + walkIso.helperPeakKb - walkIn.peakKb) / 1024.0;
        peakIn << walkIn.peakKb / 1024.0;
        peakProgram << walkIso.peakKb / 1024.0;
        peakHelper << walkIso.helperPeakKb / 1024.0;
        switchesIn << double(walkIn.switches) / walkIn.steps.size();
        switchesIso << double(walkIso.switches) / walkIso.steps.size();
        switchesHelper << double(walkIso.helperSwitches) / walkIso.steps.size();
        QTextStream(stderr) << "isolation: walk round " << round + 1 << ": step p95 " << p95In.last()
                            << " ms in-process, " << p95Iso.last() << " ms helper; memory extra " << extraMb.last()
                            << " MB\n";
    }

    Control inProcess(PdfEngines::Kind::InProcess);
    Control isolated(PdfEngines::Kind::Isolated);
    QCoreApplication::processEvents();

    // Open latency, files that open in both, alternating the order, each
    // file opened openRounds times per engine.  The figure is taken from the
    // first open of each file; the best of the rounds (per file) shows what a
    // hand-over to the helper costs when the machine's scheduling does not
    // add to it.
    QList<double> openIn, openIso, bestIn, bestIso;
    for (int i = 0; i < files.size(); ++i) {
        QList<double> a, b;
        bool shown = true;
        for (int round = 0; round < openRounds && shown; ++round) {
            auto measureIn = [&] { inProcess.reset(); a << inProcess.show(files.at(i)); };
            auto measureIso = [&] { isolated.reset(); b << isolated.show(files.at(i)); };
            if ((i + round) % 2) {
                measureIn();
                measureIso();
            } else {
                measureIso();
                measureIn();
            }
            shown = a.last() > 0 && b.last() > 0 && !inProcess.acro->showsMessage()
                    && !isolated.acro->showsMessage();
        }
        if (shown) {
            openIn << a.first();
            openIso << b.first();
            bestIn << *std::min_element(a.cbegin(), a.cend());
            bestIso << *std::min_element(b.cbegin(), b.cend());
        }
    }
    inProcess.reset();
    isolated.reset();

    const auto [engineInMs, engineIsoMs] = engineOpens(inProcess.engines, isolated.engines, files);

    const double openInMs = bench::median(openIn), openIsoMs = bench::median(openIso);
    const double stepIn = bench::median(p95In), stepIso = bench::median(p95Iso);
    bench::report("isolation_open_ratio", openInMs > 0 ? openIsoMs / openInMs : 0);
    bench::report("isolation_step_p95_ratio", stepIn > 0 ? stepIso / stepIn : 0);
    bench::report("isolation_rss_extra_mb", bench::median(extraMb));
    bench::report("open_ms_median_inprocess", openInMs);
    bench::report("open_ms_median_helper", openIsoMs);
    const double bestInMs = bench::median(bestIn), bestIsoMs = bench::median(bestIso);
    bench::report("isolation_open_ratio_best_of_rounds", bestInMs > 0 ? bestIsoMs / bestInMs : 0);
    bench::report("open_ms_best_of_rounds_inprocess", bestInMs);
    bench::report("open_ms_best_of_rounds_helper", bestIsoMs);
    bench::report("open_rounds", openRounds);
    bench::report("isolation_engine_open_ratio_best_of_rounds", engineInMs > 0 ? engineIsoMs / engineInMs : 0);
    bench::report("engine_open_ms_best_of_rounds_inprocess", engineInMs);
    bench::report("engine_open_ms_best_of_rounds_helper", engineIsoMs);
    bench::report("step_p50_ms_inprocess", bench::median(p50In));
    bench::report("step_p50_ms_helper", bench::median(p50Iso));
    bench::report("step_p95_ms_inprocess", stepIn);
    bench::report("step_p95_ms_helper", stepIso);
    const double bestStepIn = bench::percentile(fastestSteps(walksIn), 95);
    const double bestStepIso = bench::percentile(fastestSteps(walksIso), 95);
    bench::report("isolation_step_p95_ratio_best_of_rounds", bestStepIn > 0 ? bestStepIso / bestStepIn : 0);
    bench::report("step_p95_ms_best_of_rounds_inprocess", bestStepIn);
    bench::report("step_p95_ms_best_of_rounds_helper", bestStepIso);
    // The floor under every request to the helper: one that it answers at once.
    bench::report("helper_round_trip_ms_p50", isolated.engines.helper()->roundTripMs(200));
    bench::report("walk_peak_rss_mb_inprocess", bench::median(peakIn));
    bench::report("walk_peak_rss_mb_program_with_helper", bench::median(peakProgram));
    bench::report("walk_peak_rss_mb_helper", bench::median(peakHelper));
    bench::report("walk_rounds", walkRounds);
    bench::report("documents", files.size());
    bench::report("documents_compared", openIn.size());
    bench::report("helper_context_switches_per_open", bench::median(switchesIso));
    bench::report("inprocess_context_switches_per_open", bench::median(switchesIn));
    // Of those, the helper's own.
    bench::report("helper_context_switches_per_open_in_helper", bench::median(switchesHelper));
    // Counted last: the walks under strace are far slower than the others.
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty()) {
        QTextStream(stderr) << "isolation: strace is missing, system calls are not counted\n";
    } else {
        const int n = int(qMin<qsizetype>(syscallWalkFiles, files.size() / 2));
        bench::report("helper_syscalls_per_open", syscallsPerOpen(strace, QStringLiteral("helper"), folder, n));
        bench::report("inprocess_syscalls_per_open", syscallsPerOpen(strace, QStringLiteral("inprocess"), folder, n));
        bench::report("syscall_walk_files", n);
    }
    const RenderHelper::Confinement c = isolated.engines.helper()->confinement();
    bench::report("helper_landlock_abi", c.landlockAbi);
    bench::report("helper_confined", c.landlock && c.seccomp ? 1 : 0);
    return 0;
}

} // namespace

SHEAFLINE_BENCH("isolation-walk", "inprocess|helper folder  (one walk of the isolation area, in its own process)", runWalk);
SHEAFLINE_BENCH("isolation-engine", "[folder]  the engine open figures of the isolation area alone", runEngine);
SHEAFLINE_BENCH("isolation", "[folder]  engine in the confined helper against in-process: open, stepping, memory", run);
