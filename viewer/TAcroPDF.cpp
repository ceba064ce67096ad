#include "viewer/TAcroPDF.h"

#include "viewer/PageLayout.h"
#include "viewer/PdfPageView.h"
#include "viewer/isolated/RenderHelper.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int thumbWidth = 110;
constexpr int thumbHeight = 150;
constexpr int busyDelayMs = 250;
// The longest a close waits for a render helper that hangs.
constexpr int closeWaitMs = 1000;

QString messageFor(PdfOpenStatus status, const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    QString reason;
    switch (status) {
    case PdfOpenStatus::NotFound: reason = QStringLiteral("ファイルが見つかりません。"); break;
    case PdfOpenStatus::InvalidFormat: reason = QStringLiteral("PDF ファイルではないか、ファイルが壊れています。"); break;
    case PdfOpenStatus::NoPages: reason = QStringLiteral("表示できるページがありません。"); break;
    case PdfOpenStatus::Unsupported: reason = QStringLiteral("対応していない暗号化方式です。"); break;
    default: reason = QStringLiteral("ファイルを読み込めません。"); break;
    }
    return QStringLiteral("%1 を表示できません。\n%2").arg(name, reason);
}

QToolButton *toolButton(QWidget *parent, const QString &text, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    return b;
}

} // namespace

TAcroPDF::TAcroPDF(QWidget *parent, qint64 cacheBytes, PdfRenderService::EngineFactory engines)
    : QWidget(parent), m_service(new PdfRenderService(cacheBytes, std::move(engines), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_view = new PdfPageView(m_service, this);
    buildToolbar();
    layout->addWidget(m_toolbar);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_side = new QStackedWidget(m_splitter);
    m_outline = new QTreeWidget(m_side);
    m_outline->setHeaderHidden(true);
    m_side->addWidget(m_outline);
    m_thumbs = new QListWidget(m_side);
    m_thumbs->setViewMode(QListView::IconMode);
    m_thumbs->setFlow(QListView::TopToBottom);
    m_thumbs->setWrapping(false);
    m_thumbs->setMovement(QListView::Static);
    m_thumbs->setIconSize(QSize(thumbWidth, thumbHeight));
    m_thumbs->setUniformItemSizes(true);
    m_thumbs->setSpacing(4);
    m_side->addWidget(m_thumbs);
    m_side->setMinimumWidth(80);
    m_side->hide();

    m_body = new QStackedWidget(m_splitter);
    m_body->addWidget(m_view);
    buildMessagePanel();
    m_body->addWidget(m_messagePanel);
    m_splitter->addWidget(m_side);
    m_splitter->addWidget(m_body);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({180, 600});
    layout->addWidget(m_splitter, 1);

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

    connect(m_service, &PdfRenderService::opened, this, &TAcroPDF::onOpened);
    connect(m_service, &PdfRenderService::documentFailed, this, [this](quint64 docId) {
        if (docId == m_view->docId())
            showMessage(messageFor(PdfOpenStatus::Unreadable, m_src), false);
    });
    connect(m_service, &PdfRenderService::outlineReady, this,
            [this](quint64 docId, const QList<PdfOutlineEntry> &entries) {
                if (docId != m_view->docId())
                    return;
                m_outline->clear();
                QList<QTreeWidgetItem *> parents;
                for (const PdfOutlineEntry &e : entries) {
                    const int level = qBound(0, e.level, int(parents.size()));
                    parents.resize(level);
                    auto *item = level == 0 ? new QTreeWidgetItem(m_outline) : new QTreeWidgetItem(parents.last());
                    item->setText(0, e.title);
                    item->setData(0, Qt::UserRole, e.page);
                    item->setData(0, Qt::UserRole + 1, e.location);
                    parents << item;
                }
                if (entries.isEmpty()) {
                    auto *item = new QTreeWidgetItem(m_outline);
                    item->setText(0, QStringLiteral("しおりはありません"));
                    item->setData(0, Qt::UserRole, -1);
                    item->setFlags(Qt::NoItemFlags);
                }
                m_outline->expandToDepth(0);
            });
    connect(m_outline, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        const int page = item->data(0, Qt::UserRole).toInt();
        if (page >= 0)
            m_view->goToPage(page, item->data(0, Qt::UserRole + 1).toPointF());
    });
    connect(m_thumbs, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        m_view->goToPage(item->data(Qt::UserRole).toInt());
    });
    connect(m_thumbs->verticalScrollBar(), &QScrollBar::valueChanged, this, &TAcroPDF::requestVisibleThumbnails);
    connect(m_service, &PdfRenderService::pageRendered, this,
            [this](quint64 docId, int page, const PageKey &key, const QImage &image) {
                if (docId != m_view->docId() || !m_thumbsBuilt
                    || key.pixelSize != PageLayout::pixelSize(thumbnailSize(page), m_thumbs->devicePixelRatioF()))
                    return;
                QListWidgetItem *item = m_thumbs->item(page);
                if (item && !image.isNull())
                    item->setIcon(QIcon(QPixmap::fromImage(image)));
            });
    connect(m_view, &PdfPageView::currentPageChanged, this, [this] { updatePageControls(); });
    connect(m_view, &PdfPageView::zoomChanged, this, [this](int percent) {
        if (!m_zoom->lineEdit()->hasFocus())
            m_zoom->setEditText(QStringLiteral("%1%").arg(percent));
    });
    connect(m_view, &PdfPageView::firstPagePainted, this, [this] {
        updateBusy();
        emit documentShown();
    });
    connect(m_view, &PdfPageView::pagesPending, this, [this](bool pending) {
        m_pagesPending = pending;
        if (pending)
            m_busyTimer->start();
        else
            updateBusy();
    });
    connect(m_service, &PdfRenderService::searchReady, this,
            [this](quint64 docId, const QString &text, const QList<PdfSearchHit> &hits) {
                if (docId != m_view->docId() || text != m_findEdit->text())
                    return;
                m_view->setSearchHits(hits);
                m_findLabel->setText(hits.isEmpty() ? QStringLiteral("見つかりません")
                                                    : QStringLiteral("%1 / %2 件").arg(m_view->currentHit() + 1).arg(hits.size()));
            });

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
    // document that hangs the render helper does not hold that up.
    RenderHelper::instance().shortenWait(closeWaitMs);
    m_service->closeAll();
}

void TAcroPDF::buildToolbar()
{
    m_toolbar = new QWidget(this);
    m_toolbar->setObjectName(QStringLiteral("pdfToolbar"));
    auto *row = new QHBoxLayout(m_toolbar);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);

    auto *prev = toolButton(m_toolbar, QStringLiteral("◀"), QStringLiteral("前のページ"));
    auto *next = toolButton(m_toolbar, QStringLiteral("▶"), QStringLiteral("次のページ"));
    m_pageEdit = new QLineEdit(m_toolbar);
    m_pageEdit->setFixedWidth(48);
    m_pageEdit->setAlignment(Qt::AlignRight);
    m_pageEdit->setToolTip(QStringLiteral("ページ番号"));
    m_pageCount = new QLabel(QStringLiteral("/ 0"), m_toolbar);
    auto *zoomOut = toolButton(m_toolbar, QStringLiteral("－"), QStringLiteral("縮小"));
    auto *zoomIn = toolButton(m_toolbar, QStringLiteral("＋"), QStringLiteral("拡大"));
    m_zoom = new QComboBox(m_toolbar);
    m_zoom->setEditable(true);
    m_zoom->setInsertPolicy(QComboBox::NoInsert);
    for (int z : {25, 50, 75, 100, 125, 150, 200, 300, 400})
        m_zoom->addItem(QStringLiteral("%1%").arg(z), z);
    m_zoom->setToolTip(QStringLiteral("表示倍率"));
    auto *fitWidth = toolButton(m_toolbar, QStringLiteral("幅"), QStringLiteral("幅に合わせる"));
    auto *fitPage = toolButton(m_toolbar, QStringLiteral("全体"), QStringLiteral("ページ全体を表示"));
    auto *rotate = toolButton(m_toolbar, QStringLiteral("⟳"), QStringLiteral("右に回転"));
    m_findEdit = new QLineEdit(m_toolbar);
    m_findEdit->setPlaceholderText(QStringLiteral("検索"));
    m_findEdit->setClearButtonEnabled(true);
    m_findEdit->setMaximumWidth(180);
    auto *findPrev = toolButton(m_toolbar, QStringLiteral("▲"), QStringLiteral("前を検索"));
    auto *findNext = toolButton(m_toolbar, QStringLiteral("▼"), QStringLiteral("次を検索"));
    m_findLabel = new QLabel(m_toolbar);

    for (QWidget *w : std::initializer_list<QWidget *>{prev, m_pageEdit, m_pageCount, next, zoomOut, m_zoom, zoomIn,
                                                       fitWidth, fitPage, rotate})
        row->addWidget(w);
    row->addStretch(1);
    for (QWidget *w : std::initializer_list<QWidget *>{m_findEdit, findPrev, findNext, m_findLabel})
        row->addWidget(w);
    m_toolbar->hide();

    connect(prev, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() - 1); });
    connect(next, &QToolButton::clicked, this, [this] { m_view->goToPage(m_view->currentPage() + 1); });
    connect(m_pageEdit, &QLineEdit::returnPressed, this, [this] {
        bool ok = false;
        const int page = m_pageEdit->text().trimmed().toInt(&ok);
        if (ok)
            m_view->goToPage(page - 1);
        updatePageControls();
    });
    connect(zoomOut, &QToolButton::clicked, this, [this] { m_view->zoomBy(0.8); });
    connect(zoomIn, &QToolButton::clicked, this, [this] { m_view->zoomBy(1.25); });
    auto applyZoomText = [this] {
        QString t = m_zoom->currentText();
        t.remove(QLatin1Char('%'));
        bool ok = false;
        const double percent = t.trimmed().toDouble(&ok);
        if (ok && percent > 0)
            m_view->setCustomZoom(percent / 100.0);
        m_zoom->setEditText(QStringLiteral("%1%").arg(m_view->zoomPercent()));
    };
    connect(m_zoom, &QComboBox::textActivated, this, applyZoomText);
    connect(m_zoom->lineEdit(), &QLineEdit::returnPressed, this, applyZoomText);
    connect(fitWidth, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitWidth); });
    connect(fitPage, &QToolButton::clicked, this, [this] { m_view->setZoomMode(PageLayout::Zoom::FitPage); });
    connect(rotate, &QToolButton::clicked, this, [this] { m_view->rotateClockwise(); });
    auto find = [this] {
        const QString text = m_findEdit->text();
        if (text.isEmpty()) {
            m_view->setSearchHits({});
            m_findLabel->clear();
            return;
        }
        m_findLabel->setText(QStringLiteral("検索中…"));
        m_service->requestSearch(m_view->docId(), text);
    };
    connect(m_findEdit, &QLineEdit::returnPressed, this, [this, find] {
        // Enter on the same text goes on to the next hit.
        if (m_view->hitCount() > 0 && m_findLabel->property("searched").toString() == m_findEdit->text()) {
            m_view->nextHit(1);
        } else {
            m_findLabel->setProperty("searched", m_findEdit->text());
            find();
        }
    });
    auto showHit = [this] {
        if (m_view->hitCount() > 0)
            m_findLabel->setText(QStringLiteral("%1 / %2 件").arg(m_view->currentHit() + 1).arg(m_view->hitCount()));
    };
    connect(findNext, &QToolButton::clicked, this, [this, showHit] { m_view->nextHit(1); showHit(); });
    connect(findPrev, &QToolButton::clicked, this, [this, showHit] { m_view->nextHit(-1); showHit(); });
}

void TAcroPDF::buildMessagePanel()
{
    m_messagePanel = new QWidget(this);
    auto *col = new QVBoxLayout(m_messagePanel);
    col->addStretch(1);
    m_message = new QLabel(m_messagePanel);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    col->addWidget(m_message);
    m_passwordRow = new QWidget(m_messagePanel);
    auto *row = new QHBoxLayout(m_passwordRow);
    row->addStretch(1);
    m_password = new QLineEdit(m_passwordRow);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("パスワード"));
    m_password->setMaximumWidth(220);
    auto *ok = new QPushButton(QStringLiteral("開く"), m_passwordRow);
    auto *cancel = new QPushButton(QStringLiteral("キャンセル"), m_passwordRow);
    row->addWidget(m_password);
    row->addWidget(ok);
    row->addWidget(cancel);
    row->addStretch(1);
    col->addWidget(m_passwordRow);
    col->addStretch(2);
    m_passwordRow->hide();

    auto submit = [this] {
        const QString pw = m_password->text();
        m_password->clear();
        startOpen(m_src, pw);
    };
    connect(ok, &QPushButton::clicked, this, submit);
    connect(m_password, &QLineEdit::returnPressed, this, submit);
    connect(cancel, &QPushButton::clicked, this, [this] {
        showMessage(QStringLiteral("%1 はパスワードで保護されているため表示していません。")
                        .arg(QFileInfo(m_src).fileName()),
                    false);
    });
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
    params.currentPage = 0;
    params.rotation = 0;
    first.sizer = [params](const QList<QSizeF> &sizes) {
        return PageLayout::compute(sizes, params).rects.value(0).size();
    };
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
    m_outline->clear();
    m_outlineLoaded = false;
    m_thumbs->clear();
    m_thumbsBuilt = false;
    m_findEdit->clear();
    m_findLabel->clear();
    m_findLabel->setProperty("searched", QString());
}

bool TAcroPDF::LoadFile(const QString &fileName)
{
    closeCurrent(false);
    m_src = fileName;
    m_body->setCurrentWidget(m_view);
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
        showMessage(QStringLiteral("%1 はパスワードで保護されています。\nパスワードを入力してください。")
                        .arg(QFileInfo(info.path).fileName()),
                    true);
        break;
    case PdfOpenStatus::WrongPassword:
        showMessage(QStringLiteral("パスワードが違います。\nもう一度入力してください。"), true);
        break;
    default:
        showMessage(messageFor(info.status, info.path), false);
        break;
    }
}

void TAcroPDF::showDocument(const PdfDocumentInfo &info)
{
    m_body->setCurrentWidget(m_view);
    m_view->setDocument(info);
    updatePageControls();
    updateSidePane();
    updateBusy();
}

void TAcroPDF::showMessage(const QString &text, bool askPassword)
{
    m_view->clearDocument();
    m_message->setText(text);
    m_passwordRow->setVisible(askPassword);
    m_body->setCurrentWidget(m_messagePanel);
    updatePageControls();
    updateBusy();
    emit documentShown();
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
    const int n = m_view->document().pageCount();
    m_pageCount->setText(QStringLiteral("/ %1").arg(n));
    m_pageEdit->setText(n > 0 ? QString::number(m_view->currentPage() + 1) : QString());
    m_pageEdit->setEnabled(n > 0);
    if (m_thumbsBuilt && m_thumbs->currentRow() != m_view->currentPage())
        m_thumbs->setCurrentRow(m_view->currentPage());
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
    if (pageMode == QLatin1String("bookmarks") || pageMode == QLatin1String("thumbs"))
        m_pageMode = pageMode;
    else
        m_pageMode = QStringLiteral("none");
    updateSidePane();
}

void TAcroPDF::updateSidePane()
{
    if (m_pageMode == QLatin1String("none")) {
        m_side->hide();
        return;
    }
    m_side->show();
    const quint64 doc = m_view->docId();
    if (m_pageMode == QLatin1String("bookmarks")) {
        m_side->setCurrentWidget(m_outline);
        if (doc && !m_outlineLoaded) {
            m_outlineLoaded = true;
            m_service->requestOutline(doc);
        }
        return;
    }
    m_side->setCurrentWidget(m_thumbs);
    if (doc && !m_thumbsBuilt) {
        m_thumbsBuilt = true;
        QPixmap blank(thumbWidth, thumbHeight);
        blank.fill(Qt::white);
        const QIcon placeholder(blank);
        const int n = m_view->document().pageCount();
        for (int i = 0; i < n; ++i) {
            auto *item = new QListWidgetItem(placeholder, QString::number(i + 1), m_thumbs);
            item->setData(Qt::UserRole, i);
            item->setTextAlignment(Qt::AlignHCenter);
        }
        m_thumbs->setCurrentRow(m_view->currentPage());
    }
    QTimer::singleShot(0, this, &TAcroPDF::requestVisibleThumbnails);
}

QSize TAcroPDF::thumbnailSize(int page) const
{
    const QSizeF s = m_view->document().pageSizes.value(page);
    if (s.isEmpty())
        return {};
    const QSizeF fitted = s.scaled(QSizeF(thumbWidth, thumbHeight), Qt::KeepAspectRatio);
    return QSize(qMax(1, qRound(fitted.width())), qMax(1, qRound(fitted.height())));
}

void TAcroPDF::requestVisibleThumbnails()
{
    if (!m_thumbsBuilt || !m_thumbs->isVisible() || m_thumbs->count() == 0)
        return;
    // Only the items in sight (and a few beyond) are rendered.
    const QRect area = m_thumbs->viewport()->rect();
    int first = m_thumbs->row(m_thumbs->itemAt(area.topLeft() + QPoint(4, 4)));
    int last = m_thumbs->row(m_thumbs->itemAt(QPoint(4, area.bottom() - 4)));
    if (first < 0)
        first = 0;
    if (last < 0)
        last = qMin(m_thumbs->count() - 1, first + 8);
    QList<PdfRenderService::PageRequest> wanted;
    for (int i = qMax(0, first - 2); i <= qMin(m_thumbs->count() - 1, last + 2); ++i) {
        if (m_thumbs->item(i)->data(Qt::UserRole + 1).toBool())
            continue;
        m_thumbs->item(i)->setData(Qt::UserRole + 1, true);
        const qreal dpr = m_thumbs->devicePixelRatioF();
        wanted << PdfRenderService::PageRequest{i, PageLayout::pixelSize(thumbnailSize(i), dpr), dpr, 0};
    }
    if (!wanted.isEmpty())
        m_service->requestPages(m_view->docId(), PdfRenderService::Group::Thumbnail, wanted);
}

void TAcroPDF::setSrc(const QString &src)
{
    if (!src.isEmpty()) {
        LoadFile(src);
        return;
    }
    RenderHelper::instance().shortenWait(closeWaitMs);
    closeCurrent(true);
    // Prepared neighbours hold files open too.
    m_service->closeAll();
    m_src.clear();
    m_body->setCurrentWidget(m_view);
    updatePageControls();
    updateBusy();
}

void TAcroPDF::prepare(const QStringList &paths)
{
    m_service->prepare(paths, firstPageRequest());
}

void TAcroPDF::cancelPrepare()
{
    m_service->cancelPrepare();
}
