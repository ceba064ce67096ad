#include "TestHttpServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                if (buffer->contains("\r\n\r\n"))
                    return; // already answered or answering
                buffer->append(socket->readAll());
                if (buffer->contains("\r\n\r\n")) {
                    const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
                    socket->setProperty("path", requestLine.value(1));
                    serve(socket);
                }
            });
        }
    });
}

TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

void TestHttpServer::close()
{
    m_server->close();
}

quint16 TestHttpServer::port() const
{
    return m_server->serverPort();
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void TestHttpServer::setRoute(const QByteArray &path, const Route &route)
{
    m_routes.insert(path, route);
}

void TestHttpServer::serve(QTcpSocket *socket)
{
    const QByteArray path = socket->property("path").toByteArray();
    m_requests.append(path);
    const auto it = m_routes.constFind(path);
    const Route route = it != m_routes.constEnd() ? *it : Route{"not found", 404};

    const auto header = [](int status, qint64 length, const QByteArray &extra = {}) {
        return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/octet-stream\r\n"
             + "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n" + extra + "\r\n";
    };
    switch (route.mode) {
    case Mode::Normal:
        socket->write(header(route.status, route.body.size(), route.headers) + route.body);
        socket->disconnectFromHost();
        break;
    case Mode::Silent:
        break;
    case Mode::CutShort:
        socket->write(header(route.status, route.body.size()) + route.body.left(route.body.size() / 2));
        socket->disconnectFromHost();
        break;
    case Mode::Redirect:
        socket->write(header(302, 0, "Location: " + route.body + "\r\n"));
        socket->disconnectFromHost();
        break;
    case Mode::Trickle: {
        socket->write(header(route.status, route.body.size()));
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body = route.body] {
            if (*sent >= body.size()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(body.mid((*sent)++, 1));
        });
        timer->start(route.trickleMs);
        break;
    }
    }
}
