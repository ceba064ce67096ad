#include "viewer/web/TWebDocument.h"

#include "base/Errors.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QWebEnginePage>

TWebDocument::TWebDocument(QWebEnginePage *page, QUrl url, QString pdfPath, Navigator navigate,
                           ToolbarSwitch showToolbar, QObject *parent)
    : QObject(parent), m_page(page), m_url(std::move(url)), m_pdfPath(std::move(pdfPath)),
      m_navigate(std::move(navigate)), m_showToolbar(std::move(showToolbar))
{
}

IAcroAXDocShim &TWebDocument::queryAcroPdf()
{
    if (!isPdf())
        throw AppError(interfaceNotSupportedMessage());
    return *this;
}

void TWebDocument::setLoaded(bool ok)
{
    m_loaded = ok;
    if (ok)
        push();
}

bool TWebDocument::LoadFile(const QString &fileName)
{
    const bool exists = QFileInfo(fileName).isFile();
    m_navigate(fileName);
    return exists;
}

void TWebDocument::setShowToolbar(WordBool On)
{
    // The toolbar is the browser's, outside the page: it changes at once.
    if (m_showToolbar)
        m_showToolbar(On != WordFalse);
}

void TWebDocument::setLayoutMode(const QString &layoutMode)
{
    want(QStringLiteral("layout"), layoutMode);
}

void TWebDocument::setPageMode(const QString &pageMode)
{
    want(QStringLiteral("pageMode"), pageMode);
}

void TWebDocument::setShowScrollbars(WordBool On)
{
    want(QStringLiteral("scrollbars"), On != WordFalse);
}

void TWebDocument::setSrc(const QString &src)
{
    m_navigate(src);
}

void TWebDocument::want(const QString &key, const QJsonValue &value)
{
    m_wanted.insert(key, value);
    // Before the page is up a script would land in the previous page; the
    // whole state goes in when the load finishes instead.
    if (m_loaded)
        push();
}

void TWebDocument::push()
{
    if (!m_page || m_wanted.isEmpty())
        return;
    const QString state = QString::fromUtf8(QJsonDocument(m_wanted).toJson(QJsonDocument::Compact));
    m_page->runJavaScript(QStringLiteral("window.sheafline && window.sheafline.apply(%1)").arg(state));
}
