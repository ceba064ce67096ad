#pragma once

#include "viewer/RenderRequests.h"

#include <QStringList>

#include <optional>
#include <vector>

// The render service's pending requests and the order they run in: by
// priority (closes, opens, the visible pages in the order asked, measuring,
// text, the nearby pages, the side pane's thumbnails, preparation, file
// pictures on screen, other file pictures), then in the order they came.
// While preparation is held it stays queued and is passed over.  A plain
// value: the service guards it with its lock.
class RenderQueue
{
public:
    // Who takes requests: the worker takes everything but file pictures,
    // the second thread only those.
    enum class Lane { Worker, FilePictures };

    // Lower runs first.
    static int priorityOf(const RenderRequest::Any &request);

    void push(RenderRequest::Any request);
    // The request that runs next in the lane, taken out of the queue; none
    // when the lane has nothing it may run now.
    std::optional<RenderRequest::Any> take(Lane lane);

    // Whether the worker has something queued, held preparation included
    // (file pictures wait for it too).
    bool hasWorkerRequest() const;
    bool hasPreparation() const;
    void holdPreparation(bool held) { m_preparationHeld = held; }
    bool preparationHeld() const { return m_preparationHeld; }
    // Whether the hold keeps this request back now.
    bool isHeld(const RenderRequest::Any &request) const;

    // A document's requests, all but its closing.
    void dropDocument(quint64 docId);
    // The pages of one group asked for a document.
    void dropPages(quint64 docId, PageGroup group);
    void dropSearch(quint64 docId);
    void dropSelection(quint64 docId);
    // Every preparation step, or the preparation of one file.
    void dropPreparation();
    void dropPreparationOf(const QString &path);
    // The file pictures not begun; returns their paths in queue order.
    QStringList dropFilePictures();
    // Everything but closes and file pictures (they belong to no document).
    void dropForCloseAll();

    void clear() { m_entries.clear(); }
    int size() const { return int(m_entries.size()); }

private:
    struct Entry
    {
        RenderRequest::Any request;
        int priority = 0;
        quint64 seq = 0;
    };
    template <typename Pred>
    void dropIf(Pred pred);

    std::vector<Entry> m_entries;
    quint64 m_seq = 0;
    bool m_preparationHeld = false;
};
