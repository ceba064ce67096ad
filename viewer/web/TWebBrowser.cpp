#include "viewer/web/TWebBrowser.h"

#include "viewer/web/TWebDocument.h"
#include "viewer/web/WebBrowserProcess.h"
#include "viewer/web/WebPdfScheme.h"

#include <QChildEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QJsonArray>
#include <QThreadPool>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <functional>

namespace {

bool looksLikePdf(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0)
        return true;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}

// The viewer reports every untranslated string on the console (Debian ships
// pdf.js without its per-language files); only errors are worth passing on.
// The bridge reports how a document fares there too ("sheafline:<what> <file>").
class ViewerPage : public QWebEnginePage
{
public:
    using Report = std::function<void(const QString &what, const QString &file)>;

    ViewerPage(QWebEngineProfile *profile, Report report, QObject *parent)
        : QWebEnginePage(profile, parent), m_report(std::move(report))
    {
    }

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override
    {
        static const QLatin1String prefix("sheafline:");
        if (message.startsWith(prefix) && WebPdfScheme::isViewerUrl(url())) {
            const qsizetype space = message.indexOf(QLatin1Char(' '));
            if (space > 0)
                m_report(message.mid(prefix.size(), space - prefix.size()), message.mid(space + 1));
            return;
        }
        if (level == ErrorMessageLevel)
            QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
    }

    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        // A link in a shown PDF that leads out of the viewer goes to the
        // user's own browser, as a PDF reader's would; the viewer stays.
        if (type == NavigationTypeLinkClicked && isMainFrame && WebPdfScheme::isViewerUrl(this->url())
            && url.scheme() != QLatin1String(WebPdfScheme::name)) {
            QDesktopServices::openUrl(url);
            return false;
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

private:
    Report m_report;
};

QString viewerFile(const QUrl &viewerUrl)
{
    return WebPdfScheme::viewerFile(viewerUrl);
}

QString jsonText(const QJsonValue &value)
{
    // A bare string is no JSON document: wrap it and cut the brackets off.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

TWebBrowser::TWebBrowser(QWidget *parent) : QWebEngineView(parent)
{
    qRegisterMetaType<TWebDocument *>();
    m_scheme = new WebPdfScheme(WebPdfScheme::defaultPdfjsRoot(), this);
    connect(this, &TWebBrowser::Enter, &events(), &PdfViewerEvents::entered);
    connect(this, &TWebBrowser::DocumentShown, &events(), &PdfViewerEvents::documentShown);
}

TWebBrowser::~TWebBrowser()
{
    // The page must go before its profile.
    delete m_document;
    delete m_page;
    m_page = nullptr;
}

void TWebBrowser::startEngine()
{
    if (m_page)
        return;
    prepareWebBrowserProcess();
    // Off the record: no cache, cookies or local storage left on disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->installUrlSchemeHandler(WebPdfScheme::name, m_scheme);
    m_page = new ViewerPage(
        m_profile, [this](const QString &what, const QString &file) { onViewerReport(what, file); }, this);
    m_page->settings()->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    m_page->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    m_page->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    setPage(m_page);
    connect(m_page, &QWebEnginePage::loadingChanged, this, &TWebBrowser::onLoadingChanged);
    // A renderer that died takes the viewer (and what it prepared) with it:
    // the next PDF loads it anew.
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        m_viewerUp = false;
        for (Preparation &preparation : m_prepared)
            preparation.inPage = false;
    });
    watchChildren();
}

void TWebBrowser::Navigate(const QString &url)
{
    if (url.isEmpty()) {
        replaceDocument(nullptr);
        m_prepared.clear();
        m_scheme->releaseDocuments();
        m_viewerUp = false;
        if (m_page)
            m_page->setUrl(QUrl(QStringLiteral("about:blank")));
        return;
    }
    if (!m_page && url == QLatin1String("about:blank")) {
        // The engine has shown nothing yet and an empty page is what it
        // shows: no need to start it (the back-end of mode 0 only ever gets this).
        auto *blank = new TWebDocument(nullptr, QUrl(url), QString(), [this](const QString &next) { Navigate(next); }, this);
        replaceDocument(blank);
        blank->setLoaded(true);
        QMetaObject::invokeMethod(this, [this, blank] {
            if (m_document == blank)
                Q_EMIT DocumentComplete(blank);
        }, Qt::QueuedConnection);
        return;
    }
    startEngine();
    // Only the document shown now (and those prepared) stay reachable through the scheme.
    if (m_document && m_document->isPdf())
        m_scheme->releaseDocument(m_document->url());
    QUrl target;
    QString pdfPath;
    const QUrl asUrl(url);
    const bool isPath = asUrl.scheme().isEmpty() || QFileInfo::exists(url);
    if (isPath) {
        if (looksLikePdf(url) && m_scheme->available()) {
            pdfPath = QFileInfo(url).absoluteFilePath();
            target = takePrepared(pdfPath);
            if (target.isEmpty())
                target = m_scheme->addDocument(pdfPath);
        } else {
            target = QUrl::fromLocalFile(url);
        }
    } else {
        target = QUrl(url);
    }
    auto *document = new TWebDocument(m_page, target, pdfPath,
                                      [this](const QString &next) { Navigate(next); }, this);
    replaceDocument(document);
    if (document->isPdf() && m_viewerUp) {
        // The viewer is up already: it opens the next document itself (only
        // shows it, when it has prepared it).
        document->setLoaded(true);
        m_page->runJavaScript(QStringLiteral("window.sheafline.open(%1)").arg(jsonText(viewerFile(target))));
        return;
    }
    m_viewerUp = false;
    m_page->setUrl(target);
}

QUrl TWebBrowser::takePrepared(const QString &path)
{
    for (qsizetype i = 0; i < m_prepared.size(); ++i) {
        if (m_prepared.at(i).path != path)
            continue;
        const Preparation preparation = m_prepared.takeAt(i);
        const QFileInfo now(path);
        // Bytes still being read are not used; the page reads the file itself.
        if (!preparation.read || (now.lastModified() == preparation.modified && now.size() == preparation.size))
            return preparation.url;
        // Changed since it was read: show it afresh.
        dropPreparation(preparation);
        sendPreparations();
        return {};
    }
    return {};
}

QUrl TWebBrowser::preparedUrl(const QString &path) const
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const Preparation &preparation : m_prepared) {
        if (preparation.path == absolute)
            return preparation.url;
    }
    return {};
}

void TWebBrowser::prepare(const QStringList &paths)
{
    QList<Preparation> kept;
    for (const QString &given : paths) {
        if (!m_scheme->available() || !QFileInfo(given).isFile() || !looksLikePdf(given))
            continue;
        const QString path = QFileInfo(given).absoluteFilePath();
        if (std::any_of(kept.cbegin(), kept.cend(), [&](const Preparation &p) { return p.path == path; }))
            continue;
        const auto known = std::find_if(m_prepared.begin(), m_prepared.end(),
                                        [&](const Preparation &p) { return p.path == path; });
        if (known != m_prepared.end()) {
            kept << *known;
            m_prepared.erase(known);
            continue;
        }
        Preparation preparation;
        preparation.path = path;
        preparation.url = m_scheme->addDocument(path);
        kept << preparation;
        // Read in the background; the answer comes back on this thread, and
        // only while this browser and the preparation still exist.
        QPointer<TWebBrowser> self(this);
        QThreadPool::globalInstance()->start([self, path, url = preparation.url] {
            const QFileInfo info(path);
            const QDateTime modified = info.lastModified();
            const qint64 size = info.size();
            QFile file(path);
            QByteArray bytes;
            const bool ok = file.open(QIODevice::ReadOnly);
            if (ok)
                bytes = file.readAll();
            file.close();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, url, bytes = std::move(bytes), modified, size, ok]() mutable {
                    if (self)
                        self->onRead(url, ok ? std::move(bytes) : QByteArray(), modified, ok ? size : -1);
                },
                Qt::QueuedConnection);
        });
    }
    for (const Preparation &dropped : std::as_const(m_prepared))
        dropPreparation(dropped);
    m_prepared = kept;
    sendPreparations();
}

void TWebBrowser::dropPreparation(const Preparation &preparation)
{
    m_scheme->releaseDocument(preparation.url);
}

void TWebBrowser::onRead(const QUrl &url, QByteArray bytes, const QDateTime &modified, qint64 size)
{
    const auto it = std::find_if(m_prepared.begin(), m_prepared.end(),
                                 [&](const Preparation &p) { return p.url == url; });
    // Dropped, or shown already (the viewer then read the file itself).
    if (it == m_prepared.end())
        return;
    if (size < 0) {
        Q_EMIT Prepared(it->path, false);
        return;
    }
    m_scheme->setDocumentBytes(url, std::move(bytes));
    it->read = true;
    it->modified = modified;
    it->size = size;
    if (m_viewerUp)
        sendPreparations();
    else
        Q_EMIT Prepared(it->path, false); // no viewer page to parse it (yet)
}

void TWebBrowser::sendPreparations()
{
    if (!m_page || !m_viewerUp)
        return;
    QJsonArray files;
    for (Preparation &preparation : m_prepared) {
        if (!preparation.read)
            continue;
        files.append(viewerFile(preparation.url));
        preparation.inPage = true;
    }
    m_page->runJavaScript(QStringLiteral("window.sheafline && window.sheafline.prepare(%1)").arg(jsonText(files)));
}

TWebDocument *TWebBrowser::Document() const
{
    return m_document;
}

IAcroAXDocShim *TWebBrowser::ViewControl() const
{
    if (!m_document)
        return nullptr;
    return &m_document->queryAcroPdf();
}

void TWebBrowser::replaceDocument(TWebDocument *document)
{
    if (m_document) {
        m_document->setLoaded(false);
        // A caller may still be inside the old document (LoadFile, setSrc).
        m_document->deleteLater();
    }
    m_document = document;
}

void TWebBrowser::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    // Whatever else the page starts to load replaces the viewer; any page
    // load ends what the page had prepared.
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        if (!WebPdfScheme::isViewerUrl(info.url()))
            m_viewerUp = false;
        for (Preparation &preparation : m_prepared)
            preparation.inPage = false;
    }
    if (!m_document || info.url() != m_document->url())
        return;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus
        || info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
        const bool ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus;
        m_document->setLoaded(ok);
        m_viewerUp = ok && m_document->isPdf();
        // A new viewer page prepares what the old one had.
        if (m_viewerUp)
            sendPreparations();
        // A PDF is complete when the viewer has opened it (onViewerReport).
        if (!m_viewerUp)
            Q_EMIT DocumentComplete(m_document);
    }
}

void TWebBrowser::onViewerReport(const QString &what, const QString &file)
{
    if (what == QLatin1String("prepared") || what == QLatin1String("unprepared")) {
        for (const Preparation &preparation : std::as_const(m_prepared)) {
            if (preparation.inPage && viewerFile(preparation.url) == file) {
                Q_EMIT Prepared(preparation.path, what == QLatin1String("prepared"));
                break;
            }
        }
        return;
    }
    if (!m_document || !m_document->isPdf() || viewerFile(m_document->url()) != file)
        return;
    if (what == QLatin1String("loaded") || what == QLatin1String("failed"))
        Q_EMIT DocumentComplete(m_document);
    if (what == QLatin1String("shown") || what == QLatin1String("failed"))
        Q_EMIT DocumentShown(m_document, what == QLatin1String("shown"));
}

bool TWebBrowser::isDocumentSurface(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (qobject_cast<const TWebBrowser *>(w))
            return true;
    }
    return false;
}

bool TWebBrowser::event(QEvent *event)
{
    // The engine creates the widget that receives input (and keyboard focus)
    // itself, and anew after a renderer change: watch every child.
    if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished)
        watchChildren();
    if (event->type() == QEvent::FocusIn)
        eventFilter(this, event);
    return QWebEngineView::event(event);
}

void TWebBrowser::showEvent(QShowEvent *event)
{
    // Shown, the view would make a page of the default profile for itself;
    // it gets ours instead.
    startEngine();
    QWebEngineView::showEvent(event);
}

void TWebBrowser::watchChildren()
{
    for (QWidget *child : findChildren<QWidget *>()) {
        child->removeEventFilter(this);
        child->installEventFilter(this);
    }
}

bool TWebBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        switch (static_cast<QFocusEvent *>(event)->reason()) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            Q_EMIT Enter();
            break;
        default:
            break;
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}
