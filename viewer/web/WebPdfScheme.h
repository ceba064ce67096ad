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
//   sheafline://pdfjs/web/locale/...                          our Japanese texts of the viewer
//   sheafline://pdfjs/doc/<n>/<name>                          a document
//
// Documents are only reachable through a number handed out by addDocument(),
// and only until that number is released, so a page cannot ask for an
// arbitrary file.  Each document is read whole and closed at once: the program
// never keeps a PDF open after it was served.  A document may be given its
// bytes ahead (read in the background while the selection rests on it); they
// are served once from memory and then let go.
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
    // shows it.  Documents handed out earlier stay reachable until released.
    QUrl addDocument(const QString &path);
    // The bytes of a document handed out, read ahead: the next request for it
    // gets them instead of a read from disk.  Ignored once it is released.
    void setDocumentBytes(const QUrl &viewerUrl, QByteArray bytes);
    // Forgets one document handed out (its number reaches nothing any more).
    void releaseDocument(const QUrl &viewerUrl);
    // Forgets every document handed out so far.
    void releaseDocuments();
    // The path a viewer URL from addDocument() shows; empty for other URLs.
    QString documentPath(const QUrl &viewerUrl) const;
    // True for any URL of this scheme's viewer page.
    static bool isViewerUrl(const QUrl &url);
    // The document part of a viewer URL ("/doc/<n>/<name>"), as the viewer
    // page names the document it shows.
    static QString viewerFile(const QUrl &viewerUrl);

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    void replyFile(QWebEngineUrlRequestJob *job, const QString &path, const QByteArray &mime);
    void replyData(QWebEngineUrlRequestJob *job, QByteArray data, const QByteArray &mime);
    QByteArray viewerPage() const;
    // The number of a document path ("/doc/<n>/..."), or 0.
    static int documentId(const QString &docPath);

    struct Document
    {
        QString path;
        QByteArray bytes; // read ahead, not served yet
    };

    QString m_root;
    bool m_available = false;
    int m_nextId = 1;
    QHash<int, Document> m_documents;
};
