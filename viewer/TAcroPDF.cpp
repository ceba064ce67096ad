#include "viewer/TAcroPDF.h"

#include "viewer/PageLayout.h"
#include "viewer/PdfMessagePanel.h"
#include "viewer/PdfPageView.h"
#include "viewer/PdfSidePane.h"
#include "viewer/PdfToolbar.h"
#include "viewer/ShownFileWatch.h"

#include <QApplication>
#include <QFileInfo>
#include <QFocusEvent>
#include <QProgressBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace {

constexpr int busyDelayMs = 250;
// The longest a load keeps preparation back (a hidden view paints nothing).
constexpr int prepareHoldLimitMs = 300;

} // namespace

TAcroPDF::TAcroPDF(QWidget *parent, qint64 cacheBytes, PdfRenderService::EngineFactory engines,
                   std::function<void(int)> shortenWait)
    : TAcroPDF(*new PdfRenderService(cacheBytes, std::move(engines), std::move(shortenWait)), parent)
{
    m_ownService.reset(m_service);
}

TAcroPDF::TAcroPDF(PdfRenderService &service, QWidget *parent) : QWidget(parent), m_service(&service)
{
    // Toolbar above; side pane and pages (or a message) below it.
    m_view = new PdfPageView(m_service, this);
    m_toolbar = new PdfToolbar(m_view, m_service, this);
    connect(m_toolbar, &PdfToolbar::printRequested, &events(), &PdfViewerEvents::printRequested);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_side = new PdfSidePane(m_view, m_service, m_splitter);
    m_body = new QStackedWidget(m_splitter);
    m_body->addWidget(m_view);
    m_messagePanel = new PdfMessagePanel(this);
    m_body->addWidget(m_messagePanel);
    m_splitter->addWidget(m_side);
    m_splitter->addWidget(m_body);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({180, 600});

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolbar);
    layout->addWidget(m_splitter, 1);

    // The busy bar floats over the pages, shown only when a load takes a while.
    m_busy = new QProgressBar(this);
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setFixedSize(160, 10);
    m_busy->setToolTip(QStringLiteral("読み込み中…"));
    m_busy->hide();
    m_busyTimer = new QTimer(this);
    m_busyTimer->setSingleShot(true);
    m_busyTimer->setInterval(busyDelayMs);
    connect(m_busyTimer, &QTimer::timeout, this, &TAcroPDF::updateBusy);
    m_prepareTimer = new QTimer(this);
    m_prepareTimer->setSingleShot(true);
    m_prepareTimer->setInterval(0);
    connect(m_prepareTimer, &QTimer::timeout, this,
            [this] { m_service->prepare(std::exchange(m_preparePaths, {}), firstPageRequest()); });
    m_holdLimit = new QTimer(this);
    m_holdLimit->setSingleShot(true);
    m_holdLimit->setInterval(prepareHoldLimitMs);
    connect(m_holdLimit, &QTimer::timeout, this, [this] { holdPreparation(false); });

    connect(m_service, &PdfRenderService::opened, this, &TAcroPDF::onOpened);
    connect(m_service, &PdfRenderService::documentFailed, this, [this](quint64 docId) {
        if (docId == m_view->docId())
            showMessage(PdfMessagePanel::cannotShowText(PdfOpenStatus::Unreadable, m_src), false);
    });
    connect(m_view, &PdfPageView::currentPageChanged, this, [this] { updatePageControls(); });
    connect(this, &TAcroPDF::entered, &events(), &PdfViewerEvents::entered);
    connect(this, &TAcroPDF::documentShown, &events(), &PdfViewerEvents::documentShown);
    connect(m_view, &PdfPageView::firstPagePainted, this, [this] {
        updateBusy();
        onShown();
    });
    connect(m_view, &PdfPageView::pagesPending, this, [this](bool pending) {
        m_pagesPending = pending;
        if (pending)
            m_busyTimer->start();
        else
            updateBusy();
    });
    connect(m_messagePanel, &PdfMessagePanel::passwordEntered, this, [this](const QString &password) {
        m_password = password;
        startOpen(m_src, password);
    });
    m_fileWatch = new ShownFileWatch(this);
    connect(m_fileWatch, &ShownFileWatch::changed, this, &TAcroPDF::reloadShownFile);
    connect(m_messagePanel, &PdfMessagePanel::passwordRefused, this, [this] {
        showMessage(PdfMessagePanel::passwordRefusedText(m_src), false);
    });

    // The user's entry into the control, told apart from focus it takes itself.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        m_focusInside = now && (now == this || isAncestorOf(now));
    });
    for (QWidget *w : findChildren<QWidget *>())
        if (w->focusPolicy() != Qt::NoFocus)
            watchFocus(w);
    updatePageControls();
}

TAcroPDF::~TAcroPDF()
{
    // The worker must let go of every file before the widgets go; a
    // document that hangs the render helper does not hold that up (the
    // service cuts its wait short).
    m_service->closeAll();
}

void TAcroPDF::watchFocus(QWidget *w)
{
    w->installEventFilter(this);
}

bool TAcroPDF::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        const bool byUser = reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason
                            || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
        if (byUser && !m_focusInside)
            emit entered();
    }
    return QWidget::eventFilter(watched, event);
}

QWidget *TAcroPDF::documentSurface() const
{
    return m_view;
}

bool TAcroPDF::isDocumentSurface(const QWidget *widget)
{
    return qobject_cast<const PdfPageView *>(widget) != nullptr;
}

bool TAcroPDF::showsMessage() const
{
    return m_body->currentWidget() == m_messagePanel;
}

bool TAcroPDF::isBusyShown() const
{
    return m_busy->isVisible();
}

PdfRenderService::FirstPage TAcroPDF::firstPageRequest() const
{
    PdfRenderService::FirstPage first;
    PageLayout::Params params = m_view->layoutParams();
    params.currentPage = m_reloadPlace ? m_reloadPlace->page : 0;
    params.rotation = m_reloadPlace ? m_reloadPlace->quarterTurns : 0;
    first.layout = params;
    first.dpr = m_view->devicePixelRatioForPages();
    return first;
}

void TAcroPDF::closeCurrent(bool wait)
{
    const quint64 shown = m_view->docId();
    m_view->clearDocument();
    if (shown)
        m_service->close(shown, wait);
    if (m_pendingDoc)
        m_service->close(m_pendingDoc, wait);
    m_pendingDoc = 0;
    m_side->clear();
    m_toolbar->clearSearch();
}

bool TAcroPDF::LoadFile(const QString &fileName)
{
    closeCurrent(false);
    m_src = fileName;
    m_password.clear();
    m_reloadPlace.reset();
    // A file missing now is followed too: put in place later, it is shown.
    m_fileWatch->watch(fileName);
    m_body->setCurrentWidget(m_view);
    holdPreparation(true);
    if (auto info = m_service->adoptPrepared(fileName)) {
        showDocument(*info);
        return true;
    }
    startOpen(fileName, QString());
    const QFileInfo fi(fileName);
    return fi.isFile() && fi.isReadable();
}

void TAcroPDF::startOpen(const QString &path, const QString &password)
{
    if (m_pendingDoc)
        m_service->close(m_pendingDoc);
    m_pendingDoc = m_service->open(path, password, firstPageRequest());
    m_busyTimer->start();
}

void TAcroPDF::onOpened(const PdfDocumentInfo &info)
{
    if (info.docId != m_pendingDoc)
        return;
    m_pendingDoc = 0;
    switch (info.status) {
    case PdfOpenStatus::Ok:
        showDocument(info);
        break;
    case PdfOpenStatus::NeedsPassword:
        showMessage(PdfMessagePanel::passwordWantedText(info.path), true);
        break;
    case PdfOpenStatus::WrongPassword:
        showMessage(PdfMessagePanel::wrongPasswordText(), true);
        break;
    default:
        showMessage(PdfMessagePanel::cannotShowText(info.status, info.path), false);
        break;
    }
}

void TAcroPDF::showDocument(const PdfDocumentInfo &info)
{
    // A new version of the shown file takes the old one's place.
    const quint64 before = m_view->docId();
    m_messagePanel->returnFocus();
    m_body->setCurrentWidget(m_view);
    m_view->setDocument(info);
    if (before && before != info.docId)
        m_service->close(before);
    if (m_reloadPlace) {
        for (int turn = 0; turn < m_reloadPlace->quarterTurns; ++turn)
            m_view->rotateClockwise();
        m_view->goToPage(qBound(0, m_reloadPlace->page, info.pageCount() - 1));
        m_reloadPlace.reset();
    }
    updatePageControls();
    m_side->refresh();
    updateBusy();
}

void TAcroPDF::showMessage(const QString &text, bool askPassword)
{
    // The document shown before the message (a failed one, or the version
    // before a rewrite) is let go.
    if (const quint64 shown = m_view->docId())
        m_service->close(shown);
    m_view->clearDocument();
    m_messagePanel->showMessage(text, askPassword);
    m_body->setCurrentWidget(m_messagePanel);
    updatePageControls();
    updateBusy();
    onShown();
}

void TAcroPDF::onShown()
{
    holdPreparation(false);
    emit documentShown();
}

void TAcroPDF::holdPreparation(bool held)
{
    m_service->holdPreparation(held);
    if (held)
        m_holdLimit->start();
    else
        m_holdLimit->stop();
}

void TAcroPDF::updateBusy()
{
    const bool loading = m_pendingDoc != 0 || m_pagesPending;
    if (loading && !m_busyTimer->isActive()) {
        m_busy->move((width() - m_busy->width()) / 2, m_toolbar->isVisible() ? m_toolbar->height() + 8 : 8);
        m_busy->raise();
        m_busy->show();
    } else if (!loading) {
        m_busyTimer->stop();
        m_busy->hide();
    }
}

void TAcroPDF::updatePageControls()
{
    m_toolbar->showPage();
    m_side->showCurrentPage();
}

void TAcroPDF::setShowToolbar(WordBool On)
{
    m_toolbar->setVisible(On != WordFalse);
}

void TAcroPDF::setShowScrollbars(WordBool On)
{
    m_view->setScrollBarsShown(On != WordFalse);
}

void TAcroPDF::setLayoutMode(const QString &layoutMode)
{
    m_view->setLayoutMode(PageLayout::modeFromString(layoutMode));
}

void TAcroPDF::setPageMode(const QString &pageMode)
{
    m_side->setPageMode(pageMode);
}

IAcroAXDocShim *TAcroPDF::optionControl()
{
    // Its own visibility, not the window's: the help document gets its
    // options during start-up, before the window is shown.
    return isVisibleTo(window()) ? this : nullptr;
}

void TAcroPDF::setSrc(const QString &src)
{
    if (!src.isEmpty()) {
        LoadFile(src);
        return;
    }
    closeCurrent(true);
    m_fileWatch->watch(QString());
    m_reloadPlace.reset();
    holdPreparation(false);
    // Prepared neighbours hold files open too.
    m_service->closeAll();
    m_src.clear();
    m_body->setCurrentWidget(m_view);
    updatePageControls();
    updateBusy();
}

void TAcroPDF::reloadShownFile(const QString &path)
{
    if (path != m_src)
        return;
    // A version that could not be shown keeps the place from before it.
    if (m_view->docId())
        m_reloadPlace = Place{m_view->currentPage(), m_view->rotation()};
    startOpen(m_src, m_password);
}

void TAcroPDF::prepare(const QStringList &paths)
{
    m_preparePaths = paths;
    m_prepareTimer->start();
}

void TAcroPDF::cancelPrepare()
{
    m_prepareTimer->stop();
    m_preparePaths.clear();
    m_service->cancelPrepare();
}

PrintSource TAcroPDF::printSource() const
{
    if (m_src.isEmpty() || showsMessage())
        return {};
    return {m_src, m_password, m_view->currentPage()};
}
