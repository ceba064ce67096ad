#pragma once

#include "viewer/AcroPDFLib_TLB.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class QWebEnginePage;

// The document object of the web-browser back-end: the page one navigation
// of TWebBrowser shows.  Created and owned by TWebBrowser, replaced (and
// deleted later) by the next navigation; UI thread only.
//
// For a PDF shown by the pdf.js viewer the document offers the view-control
// contract: the toolbar option shows or hides the browser's own toolbar; the
// other option calls are recorded and sent into the page, at once when the
// page is up and again when its load finishes, so an option set on a
// document that is still loading is not lost.
class TWebDocument : public QObject, public IAcroAXDocShim
{
    Q_OBJECT
public:
    using Navigator = std::function<void(const QString &)>;
    using ToolbarSwitch = std::function<void(bool)>;

    // pdfPath: the document shown by the viewer page at url, or empty for
    // any other page.  navigate: how LoadFile/setSrc reach the browser;
    // showToolbar: how setShowToolbar reaches the browser's own toolbar.
    TWebDocument(QWebEnginePage *page, QUrl url, QString pdfPath, Navigator navigate,
                 ToolbarSwitch showToolbar = {}, QObject *parent = nullptr);

    QUrl url() const { return m_url; }
    // The viewer URL of a new version of the same file (the browser reloads
    // it in place when the file changes on disk).
    void setUrl(const QUrl &url) { m_url = url; }
    bool isPdf() const { return !m_pdfPath.isEmpty(); }
    bool isLoaded() const { return m_loaded; }

    // The PDF-control interface of this page.  Throws
    // AppError(interfaceNotSupportedMessage()) when the page is not a PDF
    // shown by the viewer.
    IAcroAXDocShim &queryAcroPdf();

    // Called by TWebBrowser when the page's load has finished.
    void setLoaded(bool ok);

    // IAcroAXDocShim
    bool LoadFile(const QString &fileName) override;
    void setShowToolbar(WordBool On) override;
    void setLayoutMode(const QString &layoutMode) override;
    void setPageMode(const QString &pageMode) override;
    void setShowScrollbars(WordBool On) override;
    QString src() const override { return m_pdfPath; }
    void setSrc(const QString &src) override;

private:
    void want(const QString &key, const QJsonValue &value);
    void push();

    QPointer<QWebEnginePage> m_page;
    QUrl m_url;
    QString m_pdfPath;
    Navigator m_navigate;
    ToolbarSwitch m_showToolbar;
    QJsonObject m_wanted;
    bool m_loaded = false;
};
