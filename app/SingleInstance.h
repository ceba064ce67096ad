#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;

// One program per user session, as the desktop has it: the running program
// holds the desktop file id as its name on the session bus and answers the
// freedesktop org.freedesktop.Application interface (Activate, Open,
// ActivateAction) on the object path derived from that id; a later start
// hands its request over and ends.  Where no session bus runs, a local
// socket in a folder of the user's runtime folder (0700, checked) does the
// same; the running program listens there too, so a start from a shell
// without the bus still finds it.  Requests are taken only from the same
// user (the bus's own rule, and the socket peer's credentials).
//
// Widget-free; made and used on the UI thread (the application object must
// exist).  Requests that arrive before a handler is set wait for it.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // What a start hands to the program that runs already.
    struct Request
    {
        QStringList paths;       // absolute; none: only bring the window forward
        QString activationToken; // the launcher's startup notification id, may be empty
    };

    struct Options
    {
        // The desktop file id: the bus name, and the object path made from it.
        QString applicationId;
        // The user's runtime folder; the socket's folder is made in it.
        QString runtimeFolder;
        // Use the session bus (when one can be reached without starting one).
        bool sessionBus = true;
        // How long a hand-over waits for the running program's answer.
        int answerTimeoutMs = 25000;
    };
    // The program's: its desktop file id, $XDG_RUNTIME_DIR (Qt's runtime
    // location), the bus when $DBUS_SESSION_BUS_ADDRESS or
    // $XDG_RUNTIME_DIR/bus names one.
    static Options defaultOptions();

    enum class Claim {
        Primary,    // this program answers from now on
        HandedOver, // another one took the request; end this one
        Alone,      // neither channel works: run without answering anyone
    };

    explicit SingleInstance(Options options, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Hands `request` to a program that runs already and waits for its
    // answer; false when none answers (no hand-over happened).
    bool handOver(const Request &request);
    // Becomes the program later starts hand over to; when another one got
    // there first, hands `request` to it instead.
    Claim claim(const Request &request);

    // Where requests go; queued ones are delivered from the event loop.
    void setHandler(std::function<void(const Request &)> handler);

    // After a successful claim: the channels this program answers on.
    bool onSessionBus() const { return m_onBus; }
    QString socketPath() const;

    // The object path for a desktop file id ("com.example.App" ->
    // "/com/example/App"; '-' becomes '_').
    static QString objectPath(const QString &applicationId);

    // The request a start makes from its arguments (program name excluded):
    // the first one unless it is empty or the web-view switch, made absolute
    // against the current directory; the launcher's token from the
    // environment.
    static Request requestFromArguments(const QStringList &args);

private:
    friend class ApplicationObject;
    friend class SocketChannel;
    void received(const Request &request);
    void deliver();
    bool handOverByBus(const Request &request);
    bool handOverBySocket(const Request &request);
    bool prepareSocketFolder();
    bool listenOnSocket();

    Options m_options;
    std::function<void(const Request &)> m_handler;
    QList<Request> m_pending;
    bool m_onBus = false;
    QLocalServer *m_server = nullptr;
    QObject *m_busObject = nullptr;
};
