#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A tiny HTTP/1.1 server on 127.0.0.1 for the updater's tests.  Each path
// has a canned answer; unknown paths get 404.  Runs on the test's thread:
// the downloader's local event loop serves it.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    enum class Mode {
        Normal,   // status, headers and the whole body, then close
        Silent,   // accept and never answer
        Trickle,  // headers, then one body byte every trickleMs
        CutShort, // announce the whole body, send half of it, close
        Redirect, // 302 to `body` (a path)
    };
    struct Route
    {
        QByteArray body;
        int status = 200;
        Mode mode = Mode::Normal;
        int trickleMs = 1000;
        QByteArray headers; // extra header lines, each ending in CR LF
    };

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    bool listen();
    void close();
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;
    quint16 port() const;

    // `path` as it appears in the request line (percent-encoded).
    void setRoute(const QByteArray &path, const Route &route);
    void setRoute(const QByteArray &path, const QByteArray &body) { setRoute(path, Route{body}); }

    int connectionCount() const { return m_connections; }
    // Request paths in the order received.
    const QList<QByteArray> &requests() const { return m_requests; }
    int requestCount(const QByteArray &path) const { return int(m_requests.count(path)); }

private:
    void serve(QTcpSocket *socket);

    QTcpServer *m_server;
    QHash<QByteArray, Route> m_routes;
    QList<QByteArray> m_requests;
    int m_connections = 0;
};
