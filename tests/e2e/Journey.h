#pragma once

#include "Desktop.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>
#include <optional>

// What every journey needs: a session (Xvfb's window manager and the
// program's fonts), a fresh world per journey (a home and a folder of
// documents), the program started on it, and waits that end as soon as the
// screen shows what they wait for.  Test objects derive from JourneyTest.
namespace Desktop {

// The documents' colours: a page's colour tells which document is shown.
inline const QColor kRed(208, 40, 40);
inline const QColor kGreen(40, 160, 72);
inline const QColor kBlue(40, 80, 208);
inline const QColor kYellow(224, 192, 32);

// Generous limits for a loaded machine.
inline constexpr int kStartMs = 30000;
inline constexpr int kShowMs = 20000;

// "red", "green", ... for messages; "none" for any other colour.
QString colourName(const QColor &colour);

// The screen saved as journey-<test function>-<what>.png in the current
// folder, for a failure to be looked at; returns the file's path.
QString saveScreen(const QString &what);

// `area` of `screen` with light pixels made dark and the others light, so
// that text drawn light on a darker ground (the selection) reads as the text
// finder expects: light means lighter than halfway between the selection's
// colour and white, as the finder's own threshold lies halfway between black
// and white.
QImage lightAsInk(const QImage &screen, const QRect &area);

// One journey's world: a fresh home and a folder of documents.
struct Rig
{
    QTemporaryDir dir;
    QString home;
    QString docs;
    std::unique_ptr<Program> app;
    Window window;

    QString doc(const QString &name) const { return docs + QLatin1Char('/') + name; }
    // The program's settings file in this home.
    QString settingsPath() const;
};

class JourneyTest : public QObject
{
    Q_OBJECT

private slots:
    // Every suite's first step (QTest runs it for the suite): the journeys
    // are skipped off an X display; otherwise the window manager is started
    // and the program's fonts are learnt.
    void initTestCase();

private:
    // True when the test runs on an X display.
    static bool onX();
    // Starts the window manager and learns the program's fonts; an error
    // text, empty when all is well.
    QString startSession();

protected:

    // A world whose documents are `docs` (null when one cannot be written)
    // and whose settings hold `settings`, and an update address where
    // nothing listens, so the update check is refused at once.
    std::unique_ptr<Rig> newRig(const QList<QPair<QString, QColor>> &docs = {},
                                const QVariantMap &settings = {});
    static bool writeDocs(const Rig &rig, const QList<QPair<QString, QColor>> &docs);

    // Starts the program with `args` and waits for its window.
    bool launch(Rig &rig, const QStringList &args);

    // Places on screen: the window's client area as it stands now (a menu
    // command may move it), the left pane (tree and list), the viewer and
    // the middle of the viewer.
    QRect frame(Rig &rig);
    QRect leftPane(Rig &rig);
    QRect viewer(Rig &rig);
    QRect viewerMiddle(Rig &rig);

    // The document colour that fills most of the viewer's middle, if any.
    QColor shownColour(Rig &rig);
    bool waitShown(Rig &rig, const QColor &colour, int timeoutMs = kShowMs);
    // Waits until `text` shows in `area` (the left pane by default): dark on
    // a light ground or, with `lightOnDark`, light on the selection.  Short
    // texts only: the finder follows no fractional advances, with which
    // longer runs of proportional kana are laid out.
    std::optional<QPoint> waitText(Rig &rig, const QString &text, bool lightOnDark = false, QRect area = {},
                                   int timeoutMs = kShowMs);
    std::optional<QPoint> waitText(Rig &rig, const QRect &area, const QString &text)
    {
        return waitText(rig, text, false, area);
    }
    // Where `text` shows in the left pane right now, if it does.
    std::optional<QPoint> shownInLeftPane(Rig &rig, const QString &text);
    // Waits until the window titled `title` is shown (or gone).
    bool waitWindow(Rig &rig, const QString &title, bool shown);

    // Down, then Enter, until `colour` is shown.
    bool step(Rig &rig, const QColor &colour);
    bool closeByWindowManager(Rig &rig);

    QList<QFont> m_fonts;

private:
    QTemporaryDir m_session;
    WindowManager m_wm;
};

} // namespace Desktop
