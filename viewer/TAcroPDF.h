#pragma once

#include "viewer/AcroPDFLib_TLB.h"
#include "viewer/PdfRenderService.h"
#include "viewer/PdfViewer.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "viewer/PdfMessagePanel.h"
#include "viewer/PdfSidePane.h"
#include "viewer/PdfToolbar.h"

class PdfPageView;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QSplitter;
class QStackedWidget;
class QTimer;
class QTreeWidget;
class ShownFileWatch;

// Sheafline's PDF view control: the document surface with its toolbar, the
// bookmarks and thumbnails panes, the password prompt and the messages for
// files that cannot be shown.  Offers the view-control contract and the
// viewer interface of the main window; rendering runs on the render
// service's worker thread.  Owned by its parent widget; UI thread only.
//
// Signals: entered() when the user moves the keyboard focus into the control
// (a click or Tab), never for focus it takes by itself; a load never takes
// the focus.  The same two signals also go out through events().
class TAcroPDF : public QWidget, public IAcroAXDocShim, public PdfViewer
{
    Q_OBJECT
public:
    static constexpr qint64 defaultCacheBytes = 160ll * 1024 * 1024;
    // Draws through `service` (not owned; it must outlive the control), the
    // program's one render service.
    explicit TAcroPDF(PdfRenderService &service, QWidget *parent = nullptr);
    // With a render service of its own, whose engines `engines` makes (on
    // the render worker), and which cuts a wait for engines that hang short
    // with `shortenWait(ms)`: for tests and benchmarks that want one control
    // alone.
    TAcroPDF(QWidget *parent, qint64 cacheBytes, PdfRenderService::EngineFactory engines,
             std::function<void(int)> shortenWait);
    ~TAcroPDF() override;

    // PdfViewer.
    QWidget *widget() override { return this; }
    void load(const QString &path) override { LoadFile(path); }
    void close() override { setSrc(QString()); }
    IAcroAXDocShim *optionControl() override;
    bool ownsDocumentSurface(const QWidget *widget) const override { return isDocumentSurface(widget); }
    // The shown document (none while a message stands in for it).
    PrintSource printSource() const override;

    // IAcroAXDocShim.  LoadFile starts the load and returns at once: false
    // only when the file cannot even be read; anything else that goes wrong
    // is shown inside the view.
    bool LoadFile(const QString &fileName) override;
    void setShowToolbar(WordBool On) override;
    void setLayoutMode(const QString &layoutMode) override;
    void setPageMode(const QString &pageMode) override;
    void setShowScrollbars(WordBool On) override;
    QString src() const override { return m_src; }
    void setSrc(const QString &src) override;

    // Renders the first page of these files in the background at the size the
    // view would show them now (the selected file first).  Each call cancels
    // the previous preparation.  The request goes to the render worker once
    // the event that made it has been handled, and the worker keeps it back
    // while a document comes on screen: a load the same event starts goes
    // first and has the machine to itself.
    void prepare(const QStringList &paths) override;
    void cancelPrepare();

    // The widget that holds the keyboard focus while the user works in a
    // document: the role the focus rule looks for.
    QWidget *documentSurface() const;
    static bool isDocumentSurface(const QWidget *widget);

    // For tests and the benchmark.
    PdfPageView *pageView() const { return m_view; }
    PdfRenderService *renderService() const { return m_service; }
    PdfToolbar *toolbar() const { return m_toolbar; }
    PdfSidePane *sidePane() const { return m_side; }
    QTreeWidget *outlineTree() const { return m_side->outlineTree(); }
    QListWidget *thumbnailList() const { return m_side->thumbnailList(); }
    QLabel *messageLabel() const { return m_messagePanel->messageLabel(); }
    QLineEdit *passwordEdit() const { return m_messagePanel->passwordEdit(); }
    QLineEdit *pageEdit() const { return m_toolbar->pageEdit(); }
    QLineEdit *findEdit() const { return m_toolbar->findEdit(); }
    QString pageMode() const { return m_side->pageMode(); }
    // True while the document area shows a message (error, password) instead of pages.
    bool showsMessage() const;
    bool isBusyShown() const;

signals:
    void entered();
    // The current document (or its message) is on screen: the first page has
    // been painted, or the view shows why it cannot be.
    void documentShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchFocus(QWidget *w);
    void startOpen(const QString &path, const QString &password);
    void onOpened(const PdfDocumentInfo &info);
    void showDocument(const PdfDocumentInfo &info);
    void showMessage(const QString &text, bool askPassword);
    void updatePageControls();
    void closeCurrent(bool wait);
    PdfRenderService::FirstPage firstPageRequest() const;
    void updateBusy();
    // The document (or its message) is on screen.
    void onShown();
    void holdPreparation(bool held);
    // The shown file changed on disk: opens it again, to be shown at the
    // place its old version stood once it is open (the old one stays on
    // screen until then).
    void reloadShownFile(const QString &path);

    // Set when the control made its own service.
    std::unique_ptr<PdfRenderService> m_ownService;
    PdfRenderService *m_service;
    PdfPageView *m_view;
    PdfToolbar *m_toolbar;
    QSplitter *m_splitter;
    PdfSidePane *m_side;
    QStackedWidget *m_body;
    PdfMessagePanel *m_messagePanel;
    QProgressBar *m_busy;
    QTimer *m_busyTimer;
    QTimer *m_prepareTimer;  // posts m_preparePaths after the current event
    QTimer *m_holdLimit;     // a view that is never painted holds nothing back for long
    QStringList m_preparePaths;

    QString m_src;
    QString m_password;           // the one m_src was opened with
    ShownFileWatch *m_fileWatch;  // m_src on disk
    // Where the shown document stood, for its next version; kept over a
    // version that could not be shown.
    struct Place
    {
        int page = 0;
        int quarterTurns = 0;
    };
    std::optional<Place> m_reloadPlace;
    quint64 m_pendingDoc = 0;     // open request in flight
    bool m_focusInside = false;
    bool m_pagesPending = false;
};
