#pragma once

#include <QHash>
#include <QtGlobal>

#include <list>
#include <utility>

namespace sheafline {

// A store of values bounded by the bytes they hold, the least recently used
// dropped first.  Each value is given its size when it goes in; an entry
// larger than the whole budget is not kept.  Not thread-safe: the owner
// locks around it where more than one thread uses it.  `Key` needs qHash()
// and operator==.
template <typename Key, typename Value>
class ByteLru
{
public:
    // What an insertion may do to make room.
    enum class Room { Evict, OnlyIfFree };

    explicit ByteLru(qint64 budgetBytes) : m_budget(qMax<qint64>(0, budgetBytes)) {}

    // Puts `value` under `key` as the most recent entry, replacing the one
    // there.  With Room::Evict older entries go until it fits; with
    // Room::OnlyIfFree it is kept only when it fits beside them.  False when
    // it was not kept (the old entry under `key` is gone all the same).
    bool insert(const Key &key, Value value, qint64 bytes, Room room = Room::Evict)
    {
        remove(key);
        bytes = qMax<qint64>(0, bytes);
        if (bytes > m_budget || (room == Room::OnlyIfFree && m_used + bytes > m_budget))
            return false;
        while (m_used + bytes > m_budget && !m_order.empty())
            remove(m_order.back());
        m_order.push_front(key);
        m_entries.insert(key, Entry{std::move(value), m_order.begin(), bytes});
        m_used += bytes;
        return true;
    }

    // The value under `key`, which becomes the most recent; null on a miss.
    Value *find(const Key &key)
    {
        auto it = m_entries.find(key);
        if (it == m_entries.end())
            return nullptr;
        m_order.splice(m_order.begin(), m_order, it->pos);
        return &it->value;
    }
    // The same without touching the order.
    const Value *peek(const Key &key) const
    {
        auto it = m_entries.constFind(key);
        return it == m_entries.cend() ? nullptr : &it->value;
    }
    bool contains(const Key &key) const { return m_entries.contains(key); }

    bool remove(const Key &key)
    {
        auto it = m_entries.find(key);
        if (it == m_entries.end())
            return false;
        m_used -= it->bytes;
        m_order.erase(it->pos);
        m_entries.erase(it);
        return true;
    }
    void clear()
    {
        m_entries.clear();
        m_order.clear();
        m_used = 0;
    }

    // Whether some key satisfies `pred`, most recent first.
    template <typename Pred>
    bool anyKey(Pred pred) const
    {
        for (const Key &key : m_order)
            if (pred(key))
                return true;
        return false;
    }
    // The keys from the most recent to the least.
    const std::list<Key> &keys() const { return m_order; }

    qint64 budgetBytes() const { return m_budget; }
    qint64 usedBytes() const { return m_used; }
    int count() const { return int(m_entries.size()); }

private:
    struct Entry
    {
        Value value;
        typename std::list<Key>::iterator pos;
        qint64 bytes = 0;
    };

    qint64 m_budget;
    qint64 m_used = 0;
    std::list<Key> m_order; // front = most recent
    QHash<Key, Entry> m_entries;
};

} // namespace sheafline
