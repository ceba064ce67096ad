#include "viewer/RenderQueue.h"

#include "base/Overloaded.h"

#include <algorithm>

namespace {

constexpr int closePriority = 0;
constexpr int openPriority = 1;
// After the pages in sight, before anything else: the layout waits for them.
constexpr int measurePriority = 19;
constexpr int textPriority = 20;
constexpr int preparePriority = 50;
constexpr int filePicturePriority = 60;

} // namespace

namespace RenderRequest {

quint64 docIdOf(const Any &request)
{
    return std::visit(
        [](const auto &r) -> quint64 {
            if constexpr (requires { r.docId; })
                return r.docId;
            else
                return 0;
        },
        request);
}

Waiter waiterOf(const Any &request)
{
    return std::visit(
        [](const auto &r) -> Waiter {
            if constexpr (requires { r.waiter; })
                return r.waiter;
            else
                return nullptr;
        },
        request);
}

bool isPreparation(const Any &request)
{
    return std::holds_alternative<Prepare>(request) || std::holds_alternative<TrimPrepared>(request);
}

bool isFilePicture(const Any &request)
{
    return std::holds_alternative<FilePicture>(request);
}

} // namespace RenderRequest

int RenderQueue::priorityOf(const RenderRequest::Any &request)
{
    using namespace RenderRequest;
    return std::visit(sheafline::Overloaded{
                          [](const Close &) { return closePriority; },
                          [](const CloseAll &) { return closePriority; },
                          [](const Open &) { return openPriority; },
                          // The first ten of a list in the order given, the rest after them.
                          [](const Page &r) { return int(r.group) + qMin(r.rank, 9); },
                          [](const Measure &) { return measurePriority; },
                          [](const Outline &) { return textPriority; },
                          [](const Links &) { return textPriority; },
                          [](const Selection &) { return textPriority; },
                          [](const Search &) { return textPriority + 1; },
                          [](const Prepare &) { return preparePriority; },
                          [](const TrimPrepared &) { return preparePriority; },
                          [](const FilePicture &r) { return filePicturePriority + (r.onScreen ? 0 : 1); },
                      },
                      request);
}

void RenderQueue::push(RenderRequest::Any request)
{
    const int priority = priorityOf(request);
    m_entries.push_back(Entry{std::move(request), priority, ++m_seq});
}

bool RenderQueue::isHeld(const RenderRequest::Any &request) const
{
    return m_preparationHeld && RenderRequest::isPreparation(request);
}

std::optional<RenderRequest::Any> RenderQueue::take(Lane lane)
{
    const bool filePictures = lane == Lane::FilePictures;
    auto next = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (RenderRequest::isFilePicture(it->request) != filePictures || isHeld(it->request))
            continue;
        if (next == m_entries.end() || it->priority < next->priority
            || (it->priority == next->priority && it->seq < next->seq))
            next = it;
    }
    if (next == m_entries.end())
        return std::nullopt;
    RenderRequest::Any request = std::move(next->request);
    m_entries.erase(next);
    return request;
}

bool RenderQueue::hasWorkerRequest() const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [](const Entry &e) { return !RenderRequest::isFilePicture(e.request); });
}

bool RenderQueue::hasPreparation() const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [](const Entry &e) { return RenderRequest::isPreparation(e.request); });
}

template <typename Pred>
void RenderQueue::dropIf(Pred pred)
{
    std::erase_if(m_entries, [&](const Entry &e) { return pred(e.request); });
}

void RenderQueue::dropDocument(quint64 docId)
{
    dropIf([docId](const RenderRequest::Any &r) {
        return RenderRequest::docIdOf(r) == docId && !std::holds_alternative<RenderRequest::Close>(r);
    });
}

void RenderQueue::dropPages(quint64 docId, PageGroup group)
{
    dropIf([&](const RenderRequest::Any &r) {
        const auto *page = std::get_if<RenderRequest::Page>(&r);
        return page && page->docId == docId && page->group == group;
    });
}

void RenderQueue::dropSearch(quint64 docId)
{
    dropIf([docId](const RenderRequest::Any &r) {
        const auto *search = std::get_if<RenderRequest::Search>(&r);
        return search && search->docId == docId;
    });
}

void RenderQueue::dropSelection(quint64 docId)
{
    dropIf([docId](const RenderRequest::Any &r) {
        const auto *selection = std::get_if<RenderRequest::Selection>(&r);
        return selection && selection->docId == docId;
    });
}

void RenderQueue::dropPreparation()
{
    dropIf([](const RenderRequest::Any &r) { return RenderRequest::isPreparation(r); });
}

void RenderQueue::dropPreparationOf(const QString &path)
{
    dropIf([&](const RenderRequest::Any &r) {
        const auto *prepare = std::get_if<RenderRequest::Prepare>(&r);
        return prepare && prepare->path == path;
    });
}

QStringList RenderQueue::dropFilePictures()
{
    QStringList dropped;
    dropIf([&dropped](const RenderRequest::Any &r) {
        const auto *picture = std::get_if<RenderRequest::FilePicture>(&r);
        if (picture)
            dropped << picture->path;
        return picture != nullptr;
    });
    return dropped;
}

void RenderQueue::dropForCloseAll()
{
    dropIf([](const RenderRequest::Any &r) {
        return !std::holds_alternative<RenderRequest::Close>(r) && !std::holds_alternative<RenderRequest::CloseAll>(r)
               && !RenderRequest::isFilePicture(r);
    });
}
