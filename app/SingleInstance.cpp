#include "app/SingleInstance.h"

#include "app/CommandLine.h"
#include "base/ProgramName.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>
#include <QVariantMap>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kInterface[] = "org.freedesktop.Application";
const char kSocketName[] = "instance";
constexpr quint32 kSocketMagic = 0x5348464cu; // what a stray client sends is not a request

QVariantMap platformData(const SingleInstance::Request &request)
{
    QVariantMap data;
    if (!request.activationToken.isEmpty()) {
        data.insert(QStringLiteral("activation-token"), request.activationToken);
        data.insert(QStringLiteral("desktop-startup-id"), request.activationToken);
    }
    return data;
}

QString tokenOf(const QVariantMap &data)
{
    const QString token = data.value(QStringLiteral("activation-token")).toString();
    return token.isEmpty() ? data.value(QStringLiteral("desktop-startup-id")).toString() : token;
}

QStringList localPaths(const QStringList &uris)
{
    QStringList paths;
    for (const QString &uri : uris) {
        const QUrl url(uri);
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

QStringList urisOf(const QStringList &paths)
{
    QStringList uris;
    for (const QString &path : paths)
        uris << QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded());
    return uris;
}

// The user id of the process at the other end of a local socket; -1 when unknown.
qint64 peerUid(const QLocalSocket *socket)
{
    struct ucred cred = {};
    socklen_t len = sizeof cred;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return -1;
    return qint64(cred.uid);
}

QByteArray frame(const QString &method, const SingleInstance::Request &request)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kSocketMagic << method << urisOf(request.paths) << request.activationToken;
    QByteArray framed;
    QDataStream head(&framed, QIODevice::WriteOnly);
    head << quint32(payload.size());
    return framed + payload;
}

} // namespace

// The object the running program answers the bus with.
class ApplicationObject : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationObject(SingleInstance *owner) : QObject(owner), m_owner(owner) {}

public slots:
    Q_SCRIPTABLE void Activate(const QVariantMap &platform_data)
    {
        if (fromThisUser())
            m_owner->received({QStringList(), tokenOf(platform_data)});
    }
    Q_SCRIPTABLE void Open(const QStringList &uris, const QVariantMap &platform_data)
    {
        if (fromThisUser())
            m_owner->received({localPaths(uris), tokenOf(platform_data)});
    }
    Q_SCRIPTABLE void ActivateAction(const QString &action_name, const QVariantList &parameter,
                                     const QVariantMap &platform_data)
    {
        Q_UNUSED(parameter);
        Q_UNUSED(platform_data);
        // The desktop entry declares no actions.
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no action %1").arg(action_name));
    }

private:
    // The session bus is the user's own already; a bus opened to others
    // must still not hand documents to this program.
    bool fromThisUser()
    {
        const QDBusReply<uint> uid = connection().interface()->serviceUid(message().service());
        if (uid.isValid() && uid.value() == ::getuid())
            return true;
        sendErrorReply(QDBusError::AccessDenied, QStringLiteral("another user"));
        return false;
    }

    SingleInstance *m_owner;
};

// One connection to the fallback socket: a length, then the request.
class SocketChannel : public QObject
{
    Q_OBJECT
public:
    SocketChannel(QLocalSocket *socket, SingleInstance *owner) : QObject(owner), m_socket(socket), m_owner(owner)
    {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, &SocketChannel::read);
        connect(socket, &QLocalSocket::disconnected, this, &QObject::deleteLater);
        read();
    }

private:
    void read()
    {
        m_buffer += m_socket->readAll();
        if (m_buffer.size() < 4)
            return;
        quint32 size = 0;
        {
            QDataStream head(m_buffer.left(4));
            head >> size;
        }
        if (size > 1024 * 1024) {
            m_socket->abort();
            return;
        }
        if (m_buffer.size() < 4 + qsizetype(size))
            return;
        QDataStream in(m_buffer.mid(4, size));
        in.setVersion(QDataStream::Qt_6_0);
        quint32 magic = 0;
        QString method;
        QStringList uris;
        QString token;
        in >> magic >> method >> uris >> token;
        m_buffer.clear();
        if (in.status() != QDataStream::Ok || magic != kSocketMagic) {
            m_socket->abort();
            return;
        }
        if (method == QLatin1String("Open"))
            m_owner->received({localPaths(uris), token});
        else if (method == QLatin1String("Activate"))
            m_owner->received({QStringList(), token});
        m_socket->write("\1", 1);
        m_socket->flush();
        m_socket->disconnectFromServer();
    }

    QLocalSocket *m_socket;
    SingleInstance *m_owner;
    QByteArray m_buffer;
};

SingleInstance::Options SingleInstance::defaultOptions()
{
    Options options;
    options.applicationId = QString::fromUtf16(sheafline::kDesktopId);
    options.runtimeFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Only a bus that runs: asking for one where none is named could start
    // one (X11 autolaunch) for this program alone.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    options.sessionBus = !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        || (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")));
    return options;
}

SingleInstance::SingleInstance(Options options, QObject *parent) : QObject(parent), m_options(std::move(options)) {}

SingleInstance::~SingleInstance()
{
    if (m_onBus) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(objectPath(m_options.applicationId));
        bus.interface()->unregisterService(m_options.applicationId);
    }
    if (m_server)
        m_server->close(); // removes the socket file
}

QString SingleInstance::objectPath(const QString &applicationId)
{
    QString path = QLatin1Char('/') + applicationId;
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

SingleInstance::Request SingleInstance::requestFromArguments(const QStringList &args)
{
    Request request;
    const QString first = args.value(0);
    if (!first.isEmpty() && !isWebViewSwitch(first))
        request.paths << QDir::cleanPath(QDir::current().absoluteFilePath(first));
    request.activationToken = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    if (request.activationToken.isEmpty())
        request.activationToken = qEnvironmentVariable("DESKTOP_STARTUP_ID");
    return request;
}

QString SingleInstance::socketPath() const
{
    if (m_options.runtimeFolder.isEmpty())
        return {};
    return m_options.runtimeFolder + QLatin1Char('/') + m_options.applicationId + QLatin1Char('/')
        + QLatin1String(kSocketName);
}

bool SingleInstance::handOver(const Request &request)
{
    return handOverByBus(request) || handOverBySocket(request);
}

bool SingleInstance::handOverByBus(const Request &request)
{
    if (!m_options.sessionBus)
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QString path = objectPath(m_options.applicationId);
    QDBusMessage call;
    if (request.paths.isEmpty()) {
        call = QDBusMessage::createMethodCall(m_options.applicationId, path, QLatin1String(kInterface),
                                              QStringLiteral("Activate"));
        call << platformData(request);
    } else {
        call = QDBusMessage::createMethodCall(m_options.applicationId, path, QLatin1String(kInterface),
                                              QStringLiteral("Open"));
        call << urisOf(request.paths) << platformData(request);
    }
    // Nothing is started for the call: without an owner it fails at once.
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, m_options.answerTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool SingleInstance::handOverBySocket(const Request &request)
{
    const QString path = socketPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(frame(request.paths.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"), request));
    if (!socket.waitForBytesWritten(m_options.answerTimeoutMs))
        return false;
    // The answer comes once the running program has the request.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(m_options.answerTimeoutMs))
            return false;
    }
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == 1;
}

bool SingleInstance::prepareSocketFolder()
{
    if (m_options.runtimeFolder.isEmpty())
        return false;
    const QString folder = m_options.runtimeFolder + QLatin1Char('/') + m_options.applicationId;
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    // A folder someone else made, or one open to others, is not used.
    struct stat st = {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return false;
    return true;
}

bool SingleInstance::listenOnSocket()
{
    const QString path = socketPath();
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path);
    if (!server->listen(path)) {
        delete server;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            if (peerUid(socket) != qint64(::getuid())) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            new SocketChannel(socket, this);
        }
    });
    m_server = server;
    return true;
}

SingleInstance::Claim SingleInstance::claim(const Request &request)
{
    // A program that ends between our look and our hand-over leaves the
    // name free again: look once more.
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool otherOnBus = false;
        if (m_options.sessionBus && !m_onBus) {
            QDBusConnection bus = QDBusConnection::sessionBus();
            if (bus.isConnected()) {
                auto *object = new ApplicationObject(this);
                const QString path = objectPath(m_options.applicationId);
                if (bus.registerObject(path, object, QDBusConnection::ExportScriptableSlots)) {
                    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
                        bus.interface()->registerService(m_options.applicationId,
                                                         QDBusConnectionInterface::DontQueueService,
                                                         QDBusConnectionInterface::DontAllowReplacement);
                    m_onBus = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
                    otherOnBus = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered;
                    if (!m_onBus)
                        bus.unregisterObject(path);
                }
                if (m_onBus)
                    m_busObject = object;
                else
                    delete object;
            }
        }
        if (otherOnBus) {
            if (handOver(request))
                return Claim::HandedOver;
            continue;
        }

        bool otherOnSocket = false;
        if (!m_server && prepareSocketFolder()) {
            const QString path = socketPath();
            // One start at a time between the look and the listen.
            QLockFile lock(path + QStringLiteral(".lock"));
            if (lock.tryLock(5000)) {
                QLocalSocket probe;
                probe.connectToServer(path);
                otherOnSocket = probe.waitForConnected(1000);
                probe.abort();
                if (!otherOnSocket)
                    listenOnSocket();
            }
        }
        if (otherOnSocket) {
            // The program there answers alone; this one gives the name back.
            if (m_onBus) {
                QDBusConnection bus = QDBusConnection::sessionBus();
                bus.unregisterObject(objectPath(m_options.applicationId));
                bus.interface()->unregisterService(m_options.applicationId);
                delete m_busObject;
                m_busObject = nullptr;
                m_onBus = false;
            }
            if (handOver(request))
                return Claim::HandedOver;
            continue;
        }
        return m_onBus || m_server ? Claim::Primary : Claim::Alone;
    }
    return m_onBus || m_server ? Claim::Primary : Claim::Alone;
}

void SingleInstance::setHandler(std::function<void(const Request &)> handler)
{
    m_handler = std::move(handler);
    if (!m_pending.isEmpty())
        QMetaObject::invokeMethod(this, &SingleInstance::deliver, Qt::QueuedConnection);
}

void SingleInstance::received(const Request &request)
{
    // The caller gets its answer first; the request is carried out from
    // the event loop.
    m_pending << request;
    if (m_handler)
        QMetaObject::invokeMethod(this, &SingleInstance::deliver, Qt::QueuedConnection);
}

void SingleInstance::deliver()
{
    if (!m_handler)
        return;
    const QList<Request> pending = std::exchange(m_pending, {});
    for (const Request &request : pending)
        m_handler(request);
}

#include "SingleInstance.moc"
