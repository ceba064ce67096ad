#pragma once

#include <QString>

#include <memory>

class DownloadProgress;

// What the updater needs from the user interface, so that the update logic
// stays free of widgets.  The main window hands its widget implementation to
// each update call; the headless one shows no download, skips the notice and
// sends the quit request to the application object.  UI thread only.
class UpdateUi
{
public:
    virtual ~UpdateUi() = default;
    // A progress display for a package download, or null for none.
    virtual std::unique_ptr<DownloadProgress> createDownloadProgress() = 0;
    // The plain notice before the update: OK only, no icon, the
    // application's title as caption; returns when the user has closed it.
    virtual void showRestartNotice(const QString &text) = 0;
    // Ends the program through its normal shutdown once the current handler
    // has returned.
    virtual void requestQuit() = 0;
};

// An interface without widgets.
std::unique_ptr<UpdateUi> createHeadlessUpdateUi();
