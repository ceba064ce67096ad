#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

// What a download shows to the user while it runs (a progress dialog with a
// Cancel button in the program; nothing in tests).  Implementations that
// show a window must make it application-modal: the download's event loop
// then accepts user input, and only this window receives it.
// Owned by whoever runs the download; UI thread only.
class DownloadProgress
{
public:
    virtual ~DownloadProgress() = default;

    // Shows the progress of fetching `fileName`.  `cancel` is to be called
    // when the user cancels; the download then fails.
    virtual void start(const QString &fileName, std::function<void()> cancel) = 0;
    // `total` is -1 while the size is unknown.
    virtual void update(qint64 received, qint64 total) = 0;
    // Hides it again (called once, whatever the outcome).
    virtual void finish() = 0;
};
