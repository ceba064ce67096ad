// The spine: what one window resize costs in the settings store (four
// values, each through a fresh opening of the store), against one QSettings
// write of the same file as the baseline; and the main window's start-up.
#include "BenchSupport.h"

#include "app/SysUpdate.h"
#include "app/ProgramServices.h"
#include "app/Unit1.h"
#include "base/ProgramName.h"
#include "base/SettingsStore.h"

#include "OfflineUpdater.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

namespace {

int benchApp(const QStringList &)
{
    // Never the user's real settings.
    QTemporaryDir config;
    QTemporaryDir cache;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    qunsetenv("XDG_RUNTIME_DIR");

    const int rounds = 200;
    QList<double> baseline;
    QList<double> resize;
    {
        TSysUpdateModule store;
        for (int i = 0; i < rounds; ++i) {
            QElapsedTimer t;
            t.start();
            {
                QSettings s(QSettings::NativeFormat, QSettings::UserScope,
                            QString::fromUtf16(sheafline::kOrganizationName),
                            QString::fromUtf16(sheafline::kApplicationName));
                s.setValue(sheafline::settingName(sheafline::Setting::WinHeight), 600 + (i % 7));
                s.sync();
            }
            baseline << t.nsecsElapsed() / 1e3;
            t.restart();
            // The four writes of TForm1::FormResize.
            using sheafline::Setting;
            store.store().write(Setting::WinHeight, 600 + (i % 5));
            store.store().write(Setting::WinWidth, 800 + (i % 5));
            store.store().write(Setting::TreeHeight, 240 + (i % 5));
            store.store().write(Setting::TreeWidth, 273 + (i % 5));
            resize << t.nsecsElapsed() / 1e3;
        }
    }
    const double base = bench::median(baseline);
    const double perResize = bench::median(resize);
    bench::report("app.settings.single_write_us.median", base);
    bench::report("app.settings.form_resize_us.median", perResize);
    bench::report("app.settings.form_resize_us.p90", bench::percentile(resize, 90));
    bench::report("app.settings.form_resize_vs_single_write.ratio", base > 0 ? perResize / base : 0);

    // Start-up on the same store, with an updater that stays off the network:
    // what is timed is the window, not a name lookup of the update host.
    QList<double> startup;
    OfflineUpdater offline;
    ProgramServices::Options options = ProgramServices::fromEnvironment();
    options.updater = &offline;
    ProgramServices services(std::move(options));
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        TForm1 form{QStringList(), services};
        startup << t.nsecsElapsed() / 1e6;
    }
    bench::report("app.startup_ms.median", bench::median(startup));
    return 0;
}

} // namespace

SHEAFLINE_BENCH("app", "settings writes per window resize; main window start-up", benchApp);
