#include "viewer/web/WebPdfScheme.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include <utility>

namespace {

QByteArray mimeFor(const QString &path)
{
    static const QHash<QString, QByteArray> known = {
        {QStringLiteral("html"), "text/html"},
        {QStringLiteral("js"), "text/javascript"},
        {QStringLiteral("mjs"), "text/javascript"},
        {QStringLiteral("css"), "text/css"},
        {QStringLiteral("svg"), "image/svg+xml"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("gif"), "image/gif"},
        {QStringLiteral("properties"), "text/plain"},
        {QStringLiteral("ftl"), "text/plain"},
        {QStringLiteral("json"), "application/json"},
        {QStringLiteral("pdf"), "application/pdf"},
        {QStringLiteral("ttf"), "font/ttf"},
    };
    const QString suffix = QFileInfo(path).suffix().toLower();
    const auto it = known.constFind(suffix);
    if (it != known.constEnd())
        return *it;
    return "application/octet-stream";
}

} // namespace

void WebPdfScheme::registerScheme()
{
    if (QWebEngineUrlScheme::schemeByName(name).name() == name)
        return;
    QWebEngineUrlScheme scheme(name);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // Secure and CORS-enabled so that the viewer page may fetch its documents,
    // scripts and fonts from the same origin and start pdf.js's worker.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled
                    | QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(scheme);
}

WebPdfScheme::WebPdfScheme(QString pdfjsRoot, QObject *parent)
    : QWebEngineUrlSchemeHandler(parent), m_root(std::move(pdfjsRoot)), m_available(viewerAvailable(m_root))
{
}

QString WebPdfScheme::defaultPdfjsRoot()
{
    const QString fromEnv = qEnvironmentVariable("SHEAFLINE_PDFJS_ROOT");
    return fromEnv.isEmpty() ? QStringLiteral("/usr/share/javascript/pdf") : fromEnv;
}

bool WebPdfScheme::viewerAvailable(const QString &pdfjsRoot)
{
    return QFileInfo::exists(pdfjsRoot + QStringLiteral("/web/viewer.html"))
        && QFileInfo::exists(pdfjsRoot + QStringLiteral("/web/viewer.js"))
        && QFileInfo::exists(pdfjsRoot + QStringLiteral("/build/pdf.js"));
}

QUrl WebPdfScheme::addDocument(const QString &path)
{
    const int id = m_nextId++;
    m_documents.insert(id, Document{path, {}});
    // The last segment carries the file name so that the viewer shows it
    // as the title of documents without one.
    const QString docPath = QStringLiteral("/doc/%1/%2").arg(id).arg(QFileInfo(path).fileName());
    QUrl url;
    url.setScheme(QString::fromLatin1(name));
    url.setHost(QString::fromLatin1(host));
    url.setPath(QStringLiteral("/web/viewer.html"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("file"),
                       QString::fromLatin1(QUrl::toPercentEncoding(docPath, "/")));
    url.setQuery(query);
    return url;
}

void WebPdfScheme::setDocumentBytes(const QUrl &viewerUrl, QByteArray bytes)
{
    const auto it = m_documents.find(documentId(viewerFile(viewerUrl)));
    if (it != m_documents.end())
        it->bytes = std::move(bytes);
}

void WebPdfScheme::releaseDocument(const QUrl &viewerUrl)
{
    m_documents.remove(documentId(viewerFile(viewerUrl)));
}

void WebPdfScheme::releaseDocuments()
{
    m_documents.clear();
}

int WebPdfScheme::documentId(const QString &docPath)
{
    const QStringList parts = docPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2 || parts.at(0) != QLatin1String("doc"))
        return 0;
    bool ok = false;
    const int id = parts.at(1).toInt(&ok);
    return ok ? id : 0;
}

QString WebPdfScheme::viewerFile(const QUrl &viewerUrl)
{
    if (!isViewerUrl(viewerUrl))
        return {};
    return QUrlQuery(viewerUrl).queryItemValue(QStringLiteral("file"), QUrl::FullyDecoded);
}

bool WebPdfScheme::isViewerUrl(const QUrl &url)
{
    return url.scheme() == QLatin1String(name) && url.host() == QLatin1String(host)
        && url.path() == QLatin1String("/web/viewer.html");
}

QString WebPdfScheme::documentPath(const QUrl &viewerUrl) const
{
    const auto it = m_documents.constFind(documentId(viewerFile(viewerUrl)));
    return it == m_documents.constEnd() ? QString() : it->path;
}

void WebPdfScheme::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    if (url.host() != QLatin1String(host) || job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QString path = QDir::cleanPath(url.path());
    if (path.split(QLatin1Char('/')).contains(QLatin1String(".."))) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    if (path == QLatin1String("/web/viewer.html")) {
        const QByteArray page = viewerPage();
        if (page.isEmpty())
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        else
            replyData(job, page, "text/html");
        return;
    }
    if (path == QLatin1String("/sheafline/bridge.js")) {
        QFile bridge(QStringLiteral(":/sheafline/web/bridge.js"));
        if (!bridge.open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        replyData(job, bridge.readAll(), "text/javascript");
        return;
    }
    if (path.startsWith(QLatin1String("/doc/"))) {
        const auto it = m_documents.find(documentId(path));
        if (it == m_documents.end()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        if (!it->bytes.isNull())
            replyData(job, std::exchange(it->bytes, QByteArray()), "application/pdf");
        else
            replyFile(job, it->path, "application/pdf");
        return;
    }
    if (path.startsWith(QLatin1String("/web/locale/"))) {
        // The viewer's texts come from the program (Japanese), not from the
        // package, which ships none.
        replyFile(job, QStringLiteral(":/sheafline") + path, mimeFor(path));
        return;
    }
    if (path.startsWith(QLatin1String("/web/")) || path.startsWith(QLatin1String("/build/"))) {
        replyFile(job, m_root + path, mimeFor(path));
        return;
    }
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
}

void WebPdfScheme::replyFile(QWebEngineUrlRequestJob *job, const QString &path, const QByteArray &mime)
{
    // Read whole and close at once, so that no descriptor of a shown document
    // outlives the request (the file must stay renamable).
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    QByteArray data = file.readAll();
    file.close();
    replyData(job, std::move(data), mime);
}

void WebPdfScheme::replyData(QWebEngineUrlRequestJob *job, QByteArray data, const QByteArray &mime)
{
    auto *buffer = new QBuffer;
    buffer->setData(std::move(data));
    buffer->open(QIODevice::ReadOnly);
    // The engine reads the buffer on its own thread until the job is gone.
    connect(job, &QObject::destroyed, buffer, &QObject::deleteLater);
    job->reply(mime, buffer);
}

QByteArray WebPdfScheme::viewerPage() const
{
    QFile file(m_root + QStringLiteral("/web/viewer.html"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray page = file.readAll();
    // The bridge must see the viewer's "webviewerloaded" event, so it goes in
    // just before viewer.js.
    const QByteArray marker = "<script src=\"viewer.js\"></script>";
    const QByteArray bridge = "<script src=\"../sheafline/bridge.js\"></script>\n";
    const qsizetype at = page.indexOf(marker);
    if (at < 0)
        return {};
    page.insert(at, bridge);
    return page;
}
