#include "viewer/web/TWebBrowser.h"

#include "viewer/web/TWebDocument.h"
#include "viewer/web/WebPdfScheme.h"

#include <QChildEvent>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

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
// The bridge reports the first painted page and a failed load there too.
class ViewerPage : public QWebEnginePage
{
public:
    ViewerPage(QWebEngineProfile *profile, std::function<void(bool)> shown, QObject *parent)
        : QWebEnginePage(profile, parent), m_shown(std::move(shown))
    {
    }

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override
    {
        if (WebPdfScheme::isViewerUrl(url())) {
            if (message == QLatin1String("sheafline:shown"))
                return m_shown(true);
            if (message == QLatin1String("sheafline:failed"))
                return m_shown(false);
        }
        if (level == ErrorMessageLevel)
            QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
    }

private:
    std::function<void(bool)> m_shown;
};

} // namespace

TWebBrowser::TWebBrowser(QWidget *parent) : QWebEngineView(parent)
{
    // Off the record: no cache, cookies or local storage left on disk.
    m_profile = new QWebEngineProfile(this);
    m_scheme = new WebPdfScheme(WebPdfScheme::defaultPdfjsRoot(), this);
    m_profile->installUrlSchemeHandler(WebPdfScheme::name, m_scheme);
    qRegisterMetaType<TWebDocument *>();
    m_page = new ViewerPage(
        m_profile,
        [this](bool ok) {
            if (m_document && m_document->isPdf() && m_page->url() == m_document->url())
                Q_EMIT DocumentShown(m_document, ok);
        },
        this);
    m_page->settings()->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    m_page->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    m_page->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    setPage(m_page);
    connect(m_page, &QWebEnginePage::loadingChanged, this, &TWebBrowser::onLoadingChanged);
    watchChildren();
}

TWebBrowser::~TWebBrowser()
{
    // The page must go before its profile.
    delete m_document;
    delete m_page;
    m_page = nullptr;
}

void TWebBrowser::Navigate(const QString &url)
{
    if (url.isEmpty()) {
        replaceDocument(nullptr);
        m_scheme->releaseDocuments();
        m_page->setUrl(QUrl(QStringLiteral("about:blank")));
        return;
    }
    QUrl target;
    QString pdfPath;
    const QUrl asUrl(url);
    const bool isPath = asUrl.scheme().isEmpty() || QFileInfo::exists(url);
    if (isPath) {
        if (looksLikePdf(url) && WebPdfScheme::viewerAvailable()) {
            // Only the document shown now stays reachable through the scheme.
            m_scheme->releaseDocuments();
            pdfPath = QFileInfo(url).absoluteFilePath();
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
    m_page->setUrl(target);
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
    if (!m_document || info.url() != m_document->url())
        return;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus
        || info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
        m_document->setLoaded(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
        Q_EMIT DocumentComplete(m_document);
    }
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
