#pragma once

#include "viewer/AcroPDFLib_TLB.h"
#include "viewer/PdfViewer.h"

#include <QPoint>
#include <QRect>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class QAction;
class QObject;

// The View menu's option items.
enum class ViewItem {
    ShowToolbar,
    LayoutMode1, LayoutMode2, LayoutMode3, LayoutMode4, LayoutMode5,
    PageMode1, PageMode2, PageMode3,
    ShowScrollbars,
};

// The check marks of the View menu: the only place where the viewer options
// live.  The main window backs it with its menu actions; tests with a fake.
class ViewMenuChecks
{
public:
    virtual ~ViewMenuChecks() = default;
    virtual bool isChecked(ViewItem item) const = 0;
    virtual void setChecked(ViewItem item, bool checked) = 0;
};

// ViewMenuChecks over the main window's actions (not owned; all must be set).
class ActionViewMenuChecks final : public ViewMenuChecks
{
public:
    void bind(ViewItem item, QAction *action) { m_actions[size_t(item)] = action; }
    bool isChecked(ViewItem item) const override;
    void setChecked(ViewItem item, bool checked) override;

private:
    std::array<QAction *, 10> m_actions{};
};

// Who called an option handler: a menu item (the user's command: invert and
// apply), the main window (re-apply the current state) or nobody (reset).
enum class CallMode { MenuItem, MainWindow, None };

// Call mode and group tag of a handler's sender: a QAction is a menu item,
// whose tag is its "Tag" property; null is no sender; anything else stands
// for the main window.
CallMode callModeOf(const QObject *sender);
std::optional<int> menuTagOf(const QObject *sender);

// The logic of showing a document and keeping the viewer options applied,
// written against the viewer interface so that either back-end (and a
// recording fake) can stand behind it.  UI thread only; holds no state of its
// own besides the hooks.
class DocumentDisplay
{
public:
    struct Hooks
    {
        // The viewer of the window; null when it was never made.
        std::function<PdfViewer *()> viewer;
        // A file exists at the path (links by their target; folders do not count).
        std::function<bool(const QString &path)> fileExists;
        // Repaints the main window at once.
        std::function<void()> repaint;
        // Enables the focus timer.
        std::function<void()> enableFocusTimer;
    };

    DocumentDisplay(ViewMenuChecks &menu, Hooks hooks);

    // The control the option operations talk to; null when it cannot be
    // reached.  Throws AppError when the shown page offers no view control.
    IAcroAXDocShim *reachControl() const;

    // Shows a document and re-applies the options.  Never throws: every error
    // is discarded, and it always ends by repainting and enabling the focus timer.
    void readPdf(const QString &path) noexcept;

    // The option commands; errors are thrown to the caller.
    void showToolbarClick(CallMode mode);
    void showScrollbarsClick(CallMode mode);
    void layoutModeClick(std::optional<int> tag);
    void pageModeClick(std::optional<int> tag);

    // "表示初期化": the steps the main window supplies run in this order:
    // geometry (detached resize handler, default sizes, centred), reload of the
    // current document, refill of the root folder's list, then the option reset.
    struct InitializeSteps
    {
        std::function<void()> applyDefaultGeometry;
        std::function<QString()> currentDocumentPath;
        std::function<void()> listRootFolder;
    };
    void displayInitialize(const InitializeSteps &steps);
    // The option reset alone (each option with no sender).
    void resetOptions();

    // "ヘルプ": the help document of the program's folder (with its trailing delimiter).
    void goHelp(const QString &programFolder);

    static QString layoutModeForTag(int tag);
    static QString pageModeForTag(int tag);
    static QString helpDocumentPath(const QString &programFolder);
    static bool defaultFileExists(const QString &path);

private:
    PdfViewer *viewer() const;
    void toggleOption(CallMode mode, ViewItem item, bool defaultChecked,
                      void (IAcroAXDocShim::*apply)(WordBool));

    ViewMenuChecks &m_menu;
    Hooks m_hooks;
};

// Top-left corner that centres a frame of the given size on the desktop (the
// area spanning all screens), never left of or above the desktop's own edges.
QPoint centredOnDesktop(const QSize &frameSize, const QRect &desktop);
