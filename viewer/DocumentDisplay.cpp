#include "viewer/DocumentDisplay.h"

#include "base/Errors.h"

#include <QAction>
#include <QFileInfo>

bool ActionViewMenuChecks::isChecked(ViewItem item) const
{
    const QAction *a = m_actions[size_t(item)];
    return a && a->isChecked();
}

void ActionViewMenuChecks::setChecked(ViewItem item, bool checked)
{
    if (QAction *a = m_actions[size_t(item)])
        a->setChecked(checked);
}

CallMode callModeOf(const QObject *sender)
{
    if (!sender)
        return CallMode::None;
    return qobject_cast<const QAction *>(sender) ? CallMode::MenuItem : CallMode::MainWindow;
}

std::optional<int> menuTagOf(const QObject *sender)
{
    if (!sender)
        return std::nullopt;
    return sender->property("Tag").toInt();
}

DocumentDisplay::DocumentDisplay(ViewMenuChecks &menu, Hooks hooks) : m_menu(menu), m_hooks(std::move(hooks))
{
    if (!m_hooks.fileExists)
        m_hooks.fileExists = &DocumentDisplay::defaultFileExists;
}

bool DocumentDisplay::defaultFileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo fi(path);
    return fi.exists() && !fi.isDir();
}

QString DocumentDisplay::helpDocumentPath(const QString &programFolder)
{
    return programFolder + QStringLiteral("Readme.pdf");
}

QString DocumentDisplay::layoutModeForTag(int tag)
{
    switch (tag) {
    case 2: return QStringLiteral("SinglePage");
    case 3: return QStringLiteral("OneColumn");
    case 4: return QStringLiteral("TwoColumnLeft");
    case 5: return QStringLiteral("TwoColumnRight");
    default: return QStringLiteral("DontCare");
    }
}

QString DocumentDisplay::pageModeForTag(int tag)
{
    switch (tag) {
    case 2: return QStringLiteral("bookmarks");
    case 3: return QStringLiteral("thumbs");
    default: return QStringLiteral("none");
    }
}

PdfViewer *DocumentDisplay::viewer() const
{
    return m_hooks.viewer ? m_hooks.viewer() : nullptr;
}

IAcroAXDocShim *DocumentDisplay::reachControl() const
{
    PdfViewer *shown = viewer();
    return shown ? shown->optionControl() : nullptr;
}

void DocumentDisplay::readPdf(const QString &path) noexcept
{
    try {
        if (m_hooks.fileExists(path)) {
            PdfViewer *shown = viewer();
            if (!shown)
                throw AppError(interfaceNotSupportedMessage());
            shown->load(path);
            showToolbarClick(CallMode::MainWindow);
            static constexpr ViewItem layouts[] = {ViewItem::LayoutMode1, ViewItem::LayoutMode2, ViewItem::LayoutMode3,
                                                   ViewItem::LayoutMode4, ViewItem::LayoutMode5};
            for (int i = 0; i < 5; ++i) {
                if (m_menu.isChecked(layouts[i])) {
                    layoutModeClick(i + 1);
                    break;
                }
            }
            static constexpr ViewItem pages[] = {ViewItem::PageMode1, ViewItem::PageMode2, ViewItem::PageMode3};
            for (int i = 0; i < 3; ++i) {
                if (m_menu.isChecked(pages[i])) {
                    pageModeClick(i + 1);
                    break;
                }
            }
            showScrollbarsClick(CallMode::MainWindow);
        }
    } catch (...) {
        // A document that cannot be shown is no reason to bother the user:
        // the view control says so itself.
    }
    try {
        if (m_hooks.repaint)
            m_hooks.repaint();
    } catch (...) {
    }
    try {
        if (m_hooks.enableFocusTimer)
            m_hooks.enableFocusTimer();
    } catch (...) {
    }
}

void DocumentDisplay::toggleOption(CallMode mode, ViewItem item, bool defaultChecked,
                                   void (IAcroAXDocShim::*apply)(WordBool))
{
    if (mode == CallMode::MenuItem)
        m_menu.setChecked(item, !m_menu.isChecked(item));
    IAcroAXDocShim *control = reachControl();
    if (!control)
        return;
    if (mode == CallMode::None)
        m_menu.setChecked(item, defaultChecked);
    (control->*apply)(m_menu.isChecked(item) ? WordTrue : WordFalse);
}

void DocumentDisplay::showToolbarClick(CallMode mode)
{
    toggleOption(mode, ViewItem::ShowToolbar, false, &IAcroAXDocShim::setShowToolbar);
}

void DocumentDisplay::showScrollbarsClick(CallMode mode)
{
    toggleOption(mode, ViewItem::ShowScrollbars, true, &IAcroAXDocShim::setShowScrollbars);
}

void DocumentDisplay::layoutModeClick(std::optional<int> tag)
{
    IAcroAXDocShim *control = reachControl();
    if (!control)
        return;
    const int t = tag.value_or(1);
    const int chosen = (t >= 2 && t <= 5) ? t : 1;
    static constexpr ViewItem items[] = {ViewItem::LayoutMode1, ViewItem::LayoutMode2, ViewItem::LayoutMode3,
                                         ViewItem::LayoutMode4, ViewItem::LayoutMode5};
    for (int i = 0; i < 5; ++i)
        m_menu.setChecked(items[i], i + 1 == chosen);
    control->setLayoutMode(layoutModeForTag(chosen));
}

void DocumentDisplay::pageModeClick(std::optional<int> tag)
{
    IAcroAXDocShim *control = reachControl();
    if (!control)
        return;
    const int t = tag.value_or(1);
    const int chosen = (t >= 2 && t <= 3) ? t : 1;
    static constexpr ViewItem items[] = {ViewItem::PageMode1, ViewItem::PageMode2, ViewItem::PageMode3};
    for (int i = 0; i < 3; ++i)
        m_menu.setChecked(items[i], i + 1 == chosen);
    control->setPageMode(pageModeForTag(chosen));
    if (viewer()->pageModeResetsToolbar())
        control->setShowToolbar(m_menu.isChecked(ViewItem::ShowToolbar) ? WordTrue : WordFalse);
}

void DocumentDisplay::resetOptions()
{
    showToolbarClick(CallMode::None);
    layoutModeClick(std::nullopt);
    pageModeClick(std::nullopt);
    showScrollbarsClick(CallMode::None);
}

void DocumentDisplay::displayInitialize(const InitializeSteps &steps)
{
    if (steps.applyDefaultGeometry)
        steps.applyDefaultGeometry();
    readPdf(steps.currentDocumentPath ? steps.currentDocumentPath() : QString());
    if (steps.listRootFolder)
        steps.listRootFolder();
    resetOptions();
}

void DocumentDisplay::goHelp(const QString &programFolder)
{
    readPdf(helpDocumentPath(programFolder));
}

QPoint centredOnDesktop(const QSize &frameSize, const QRect &desktop)
{
    const int x = desktop.left() + (desktop.width() - frameSize.width()) / 2;
    const int y = desktop.top() + (desktop.height() - frameSize.height()) / 2;
    return QPoint(qMax(desktop.left(), x), qMax(desktop.top(), y));
}
