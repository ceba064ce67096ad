#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QUrl>

class DownloadProgress;

// Limits of one download.
struct DownloadLimits
{
    int connectMs = 4000;    // until the request has been sent
    int inactivityMs = 4000; // longest silence after that
    QDeadlineTimer deadline{QDeadlineTimer::Forever}; // the whole download, redirects included
    qint64 maxBytes = -1;    // keep at most this many bytes (-1: no cap); the
                             // rest is cut off and the download still succeeds
    qint64 failAboveBytes = -1; // more than this many bytes fail the download
                                // (-1: no limit)
};

// Fetches one http or https URL into a file, synchronously for the caller:
// a local event loop runs until the download ends (user input is held back
// unless a DownloadProgress is given).  No cache is read or written.  The
// data goes to a temporary file next to the target and is renamed over it
// only when complete, so a failed, cut or cancelled download leaves an
// earlier copy untouched.  UI thread only.
class BoundedDownloader
{
public:
    // True on success (a 2xx answer received in full, or up to maxBytes).
    static bool download(const QUrl &url, const QString &fileName, const DownloadLimits &limits,
                         DownloadProgress *progress = nullptr);
};
