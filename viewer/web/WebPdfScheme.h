#pragma once

#include <QHash>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

// The local scheme through which the browser back-end shows PDF documents:
// the pdf.js viewer from Debian's libjs-pdf and the documents themselves are
// served from disk under "sheafline://pdfjs/", so nothing goes to the network.
//
//   sheafline://pdfjs/web/viewer.html?file=/doc/<n>/<name>  the viewer page
//   sheafline://pdfjs/web/..., /build/...                    pdf.js files
//   sheafline://pdfjs/sheafline/bridge.js                     our option bridge
//   sheafline://pdfjs/doc/<n>/<name>                          a document
//
// Documents are only reachable through a number handed out by addDocument(),
// so a page cannot ask for an arbitrary file.  Each document is read whole and
// closed at once: the program never keeps a PDF open after it was served.
//
// UI thread only (requestStarted runs there).
class WebPdfScheme : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    static constexpr const char *name = "sheafline";
    static constexpr const char *host = "pdfjs";

    // Registers the scheme with the engine.  Must run before QApplication
    // exists (prepareWebBrowserProcess() does it).
    static void registerScheme();

    // pdfjsRoot: the folder holding pdf.js's build/ and web/ folders.
    explicit WebPdfScheme(QString pdfjsRoot = defaultPdfjsRoot(), QObject *parent = nullptr);

    static QString defaultPdfjsRoot();
    // True when the pdf.js viewer is installed under root.
    static bool viewerAvailable(const QString &pdfjsRoot = defaultPdfjsRoot());
    // True when the viewer is installed under this scheme's root (checked once, on construction).
    bool available() const { return m_available; }

    // Makes the document at path reachable and returns the viewer URL that
    // shows it.  Documents handed out earlier stay reachable until
    // releaseDocuments().
    QUrl addDocument(const QString &path);
    // Forgets every document handed out so far.
    void releaseDocuments();
    // The path a viewer URL from addDocument() shows; empty for other URLs.
    QString documentPath(const QUrl &viewerUrl) const;
    // True for any URL of this scheme's viewer page.
    static bool isViewerUrl(const QUrl &url);

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    void replyFile(QWebEngineUrlRequestJob *job, const QString &path, const QByteArray &mime);
    void replyData(QWebEngineUrlRequestJob *job, QByteArray data, const QByteArray &mime);
    QByteArray viewerPage() const;

    QString m_root;
    bool m_available = false;
    int m_nextId = 1;
    QHash<int, QString> m_documents;
};
