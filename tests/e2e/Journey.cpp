#include "Journey.h"

#include "SolidPdf.h"
#include "app/Fonts.h"
#include "base/ProgramName.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

namespace Desktop {

QString colourName(const QColor &colour)
{
    if (colour == kRed) return QStringLiteral("red");
    if (colour == kGreen) return QStringLiteral("green");
    if (colour == kBlue) return QStringLiteral("blue");
    if (colour == kYellow) return QStringLiteral("yellow");
    return QStringLiteral("none");
}

QString saveScreen(const QString &what)
{
    const QString shot = QDir::current().filePath(
        QStringLiteral("journey-%1-%2.png").arg(QString::fromLatin1(QTest::currentTestFunction()), what));
    grabScreen().save(shot);
    return shot;
}

QImage lightAsInk(const QImage &screen, const QRect &area)
{
    QImage out = screen.convertToFormat(QImage::Format_RGB32);
    const int threshold = (qGray(QApplication::palette().color(QPalette::Active, QPalette::Highlight).rgb()) + 255) / 2;
    const QRect region = area & out.rect();
    for (int y = region.top(); y <= region.bottom(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = region.left(); x <= region.right(); ++x)
            line[x] = qGray(line[x]) > threshold ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    }
    return out;
}

QString Rig::settingsPath() const
{
    return home + QStringLiteral("/.config/") + QString::fromUtf16(sheafline::kOrganizationName) + QLatin1Char('/')
        + QString::fromUtf16(sheafline::kApplicationName) + QStringLiteral(".conf");
}

void JourneyTest::initTestCase()
{
    if (!onX())
        QSKIP("needs an X display (run under xvfb-run)");
    const QString error = startSession();
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

bool JourneyTest::onX()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

QString JourneyTest::startSession()
{
    const QString home = m_session.filePath(QStringLiteral("wm"));
    QDir().mkpath(home);
    const QString error = m_wm.start(home);
    if (!error.isEmpty())
        return error;
    // The program's own face for its window, and the default ones of dialogs and menus.
    installFontSubstitutions();
    QFont design(QStringLiteral("ＭＳ Ｐゴシック"));
    design.setPixelSize(12);
    m_fonts = {design, QApplication::font(), QApplication::font("QMenu")};
    // The pointer rests away from any window.
    moveMouse(QPoint(1, 1));
    return {};
}

std::unique_ptr<Rig> JourneyTest::newRig(const QList<QPair<QString, QColor>> &docs, const QVariantMap &settings)
{
    auto rig = std::make_unique<Rig>();
    rig->home = rig->dir.filePath(QStringLiteral("home"));
    rig->docs = rig->dir.filePath(QStringLiteral("docs"));
    QDir().mkpath(QFileInfo(rig->settingsPath()).path());
    QDir().mkpath(rig->docs);
    QSettings seed(rig->settingsPath(), QSettings::IniFormat);
    seed.setValue(QStringLiteral("updatepath"), QStringLiteral("http://127.0.0.1:9/"));
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        seed.setValue(it.key(), it.value());
    seed.sync();
    if (!writeDocs(*rig, docs))
        return nullptr;
    rig->app = std::make_unique<Program>(QStringLiteral(SHEAFLINE_EXE), rig->home);
    return rig;
}

bool JourneyTest::writeDocs(const Rig &rig, const QList<QPair<QString, QColor>> &docs)
{
    for (const auto &[name, colour] : docs) {
        QDir().mkpath(QFileInfo(rig.doc(name)).path());
        if (!SolidPdf::writeSolid(rig.doc(name), colour))
            return false;
    }
    return true;
}

bool JourneyTest::launch(Rig &rig, const QStringList &args)
{
    if (!rig.app->start(args))
        return false;
    const QDeadlineTimer deadline(kStartMs);
    while (!deadline.hasExpired()) {
        if (auto w = rig.app->window()) {
            rig.window = *w;
            return true;
        }
        if (!rig.app->running())
            break;
        QTest::qWait(50);
    }
    qWarning("no window; program said: %s", qPrintable(rig.app->errors()));
    return false;
}

QRect JourneyTest::frame(Rig &rig)
{
    if (auto w = rig.app->window())
        rig.window = *w;
    return rig.window.frame;
}

QRect JourneyTest::leftPane(Rig &rig)
{
    const QRect f = frame(rig);
    return QRect(f.left(), f.top(), qMin(f.width() / 2, 340), f.height());
}

QRect JourneyTest::viewer(Rig &rig)
{
    const QRect f = frame(rig);
    return QRect(f.left() + f.width() * 38 / 100, f.top(), f.width() * 62 / 100, f.height());
}

QRect JourneyTest::viewerMiddle(Rig &rig)
{
    const QRect f = frame(rig);
    return QRect(f.left() + f.width() * 45 / 100, f.top() + f.height() / 4, f.width() * 50 / 100, f.height() / 2);
}

QColor JourneyTest::shownColour(Rig &rig)
{
    const QImage screen = grabScreen();
    const QRect middle = viewerMiddle(rig);
    for (const QColor &c : {kRed, kGreen, kBlue, kYellow})
        if (colourShare(screen, middle, c) > 0.3)
            return c;
    return {};
}

bool JourneyTest::waitShown(Rig &rig, const QColor &colour, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (shownColour(rig) == colour)
            return true;
        QTest::qWait(50);
    }
    qWarning("expected %s, the viewer shows %s (screen saved as %s)", qPrintable(colourName(colour)),
             qPrintable(colourName(shownColour(rig))), qPrintable(saveScreen(QStringLiteral("not-shown"))));
    return false;
}

std::optional<QPoint> JourneyTest::waitText(Rig &rig, const QString &text, bool lightOnDark, QRect area,
                                            int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QRect where = area.isNull() ? leftPane(rig) : area;
        QImage screen = grabScreen();
        if (lightOnDark)
            screen = lightAsInk(screen, where);
        if (auto at = findText(screen, where, text, m_fonts))
            return at;
        QTest::qWait(50);
    }
    qWarning("\"%s\" is not shown%s (screen saved as %s)", qPrintable(text), lightOnDark ? " selected" : "",
             qPrintable(saveScreen(QStringLiteral("missing-text"))));
    return std::nullopt;
}

std::optional<QPoint> JourneyTest::shownInLeftPane(Rig &rig, const QString &text)
{
    return findText(grabScreen(), leftPane(rig), text, m_fonts);
}

bool JourneyTest::waitWindow(Rig &rig, const QString &title, bool shown)
{
    const QDeadlineTimer deadline(kShowMs);
    while (!deadline.hasExpired()) {
        if (rig.app->window(title).has_value() == shown)
            return true;
        QTest::qWait(50);
    }
    return false;
}

bool JourneyTest::step(Rig &rig, const QColor &colour)
{
    key(QStringLiteral("Down"));
    key(QStringLiteral("Return"));
    return waitShown(rig, colour);
}

bool JourneyTest::closeByWindowManager(Rig &rig)
{
    key(QStringLiteral("alt+F4"));
    return rig.app->waitForExit(kStartMs);
}

} // namespace Desktop
