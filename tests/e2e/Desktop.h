#pragma once

#include <QColor>
#include <QHash>
#include <QFont>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

// A person at an X display: real input through XTest (xdotool), what is shown
// read back from the screen's pixels.  Used by the journeys, which run under
// Xvfb with a window manager; the test process is a client of the same display.
namespace Desktop {

// Runs a program to its end and returns its standard output; `ok` tells
// whether it ran and exited with 0.
QString run(const QString &program, const QStringList &args, bool *ok = nullptr, int timeoutMs = 15000);

// The window manager of the session (openbox), started once for the test run.
class WindowManager
{
public:
    ~WindowManager();
    // Starts it with its configuration under `home` and waits until it
    // manages the screen.  Returns an error text, empty on success.
    QString start(const QString &home);

private:
    QProcess m_process;
};

// Input.  Keys are named as xdotool names them ("Down", "Return", "alt+F4").
void key(const QString &keys);
void type(const QString &text);
void click(const QPoint &at, int button = 1);
void doubleClick(const QPoint &at);
// Presses `button` at `from`, moves to `to` in steps and releases it, with
// `modifier` ("alt") held throughout when given.
void drag(const QPoint &from, const QPoint &to, int button = 1, const QString &modifier = QString());
void moveMouse(const QPoint &at);

// The whole screen as it is now.
QImage grabScreen();

// Text as the program draws it: ink of `text` rendered in each of `fonts`,
// looked for in `area` of `image` (screen coordinates).  Returns the centre
// of the first place where it is shown, in screen coordinates.
std::optional<QPoint> findText(const QImage &image, const QRect &area, const QString &text,
                               const QList<QFont> &fonts);

// Fraction (0..1) of the pixels in `area` of `image` within `tolerance` of
// `colour` in each channel (a small one: the colour itself, with nothing such
// as an overlay's shade over it).
double colourShare(const QImage &image, const QRect &area, const QColor &colour, int tolerance = 40);

// A top-level window of the program.
struct Window
{
    QString id;   // X window id, as xdotool prints it
    QRect frame;  // client area in screen coordinates
};

// The program under test, started in its own home and XDG folders.
class Program
{
public:
    explicit Program(const QString &exe, const QString &home);
    ~Program();

    // Sets a variable of the program's environment for the next starts (a
    // null value removes it).
    void setEnvironment(const QString &name, const QString &value) { m_environment.insert(name, value); }
    // Starts it with `args`; returns false when it cannot start.
    bool start(const QStringList &args);
    // The visible top-level window titled `title`, or nothing yet.
    std::optional<Window> window(const QString &title = QStringLiteral("Sheafline")) const;
    // Waits until the program has ended by itself; false on timeout.
    bool waitForExit(int timeoutMs);
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }
    QString errors() const;

private:
    QString m_exe;
    QString m_home;
    QHash<QString, QString> m_environment;
    mutable QProcess m_process; // reading its output is not a change of the program
};

} // namespace Desktop
