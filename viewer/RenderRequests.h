#pragma once

#include "viewer/PageKey.h"
#include "viewer/PdfEngine.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <memory>
#include <variant>

// Page request groups: a new request list of one group replaces that group's
// pending requests for the document.  "Thumbnail" is the side pane's page
// pictures.
enum class PageGroup { Visible = 10, Nearby = 30, Thumbnail = 40 };

// The kinds of work the render service queues, one plain struct each.  Made
// on the UI thread, served on the render worker (file pictures on the
// service's second thread).
namespace RenderRequest {

// Set (under the service's lock) once a waited close has let go of its files.
using Waiter = std::shared_ptr<bool>;

// Opens a file under a new document id, drawing its first page with it.
struct Open
{
    quint64 docId = 0;
    QString path;
    QString password;
    PdfFirstPage first;
};
// Measures the pages after the first of a document just opened, a slice at
// a time, and announces them all once done.
struct Measure
{
    quint64 docId = 0;
};
// One page of an open document; `rank` is its place in its group's list.
struct Page
{
    quint64 docId = 0;
    PageGroup group = PageGroup::Visible;
    int rank = 0;
    PageRequest page;
};
struct Outline
{
    quint64 docId = 0;
};
struct Links
{
    quint64 docId = 0;
    int page = 0;
};
struct Search
{
    quint64 docId = 0;
    QString text;
};
// The text between two points of a page (points).
struct Selection
{
    quint64 docId = 0;
    int page = 0;
    QPointF from, to;
};
struct Close
{
    quint64 docId = 0;
    Waiter waiter; // null when nobody waits
};
// Every document, prepared ones included.
struct CloseAll
{
    Waiter waiter;
};
// Opens a file in the background and draws its first page into the cache.
struct Prepare
{
    QString path;
    PdfFirstPage first;
};
// Closes the prepared documents whose files are not in `keep`.
struct TrimPrepared
{
    QStringList keep;
};
// The first page of a file fitted into a square of `box` pixels, for the
// file list; made on the second thread with an engine of its own.
struct FilePicture
{
    QString path;
    int box = 0;
    bool onScreen = true;
};

using Any = std::variant<Open, Measure, Page, Outline, Links, Search, Selection, Close, CloseAll, Prepare,
                         TrimPrepared, FilePicture>;

// The document a request is about; 0 for none.
quint64 docIdOf(const Any &request);
// Who waits for a close to be served; null for other requests.
Waiter waiterOf(const Any &request);
bool isPreparation(const Any &request);
bool isFilePicture(const Any &request);

} // namespace RenderRequest
