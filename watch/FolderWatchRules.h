#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <initializer_list>

// The event options of the folder watcher, in their fixed order: the ordinal
// of each value is its bit in TplFolderEventOptions.
enum TplFolderEventOption {
    evt_RENAMEITEM,       // 0x1
    evt_CREATE,           // 0x2
    evt_DELETE,           // 0x4
    evt_MKDIR,            // 0x8
    evt_RMDIR,            // 0x10
    evt_MEDIAINSERTED,    // 0x20
    evt_MEDIAREMOVED,     // 0x40
    evt_DRIVEREMOVED,     // 0x80
    evt_DRIVEADD,         // 0x100
    evt_NETSHARE,         // 0x200
    evt_NETUNSHARE,       // 0x400
    evt_ATTRIBUTES,       // 0x800
    evt_UPDATEDIR,        // 0x1000
    evt_UPDATEITEM,       // 0x2000
    evt_SERVERDISCONNECT, // 0x4000
    evt_UPDATEIMAGE,      // 0x8000
    evt_DRIVEADDGUI,      // 0x10000
    evt_RENAMEFOLDER,     // 0x20000
    evt_FREESPACE,        // 0x40000
    evt_ASSOCCHANGED,     // 0x8000000
    evt_DISKEVENTS,       // 0x2381F
    evt_GLOBALEVENTS,     // 0xC0581E0
    evt_ALLEVENTS,        // 0x7FFFFFFF
};

constexpr int plFolderEventOptionCount = 23;

// A set of TplFolderEventOption in 32 bits: bit i is the option of ordinal i.
class TplFolderEventOptions
{
public:
    constexpr TplFolderEventOptions() = default;
    constexpr TplFolderEventOptions(std::initializer_list<TplFolderEventOption> options)
    {
        for (TplFolderEventOption o : options)
            m_bits |= quint32(1) << int(o);
    }
    // Bits above ordinal 22 are dropped.
    static constexpr TplFolderEventOptions fromBits(quint32 bits)
    {
        TplFolderEventOptions s;
        s.m_bits = bits & ((quint32(1) << plFolderEventOptionCount) - 1);
        return s;
    }

    constexpr quint32 bits() const { return m_bits; }
    constexpr bool isEmpty() const { return m_bits == 0; }
    constexpr bool contains(TplFolderEventOption o) const { return m_bits & (quint32(1) << int(o)); }
    constexpr void include(TplFolderEventOption o) { m_bits |= quint32(1) << int(o); }
    constexpr void exclude(TplFolderEventOption o) { m_bits &= ~(quint32(1) << int(o)); }
    constexpr bool operator==(const TplFolderEventOptions &) const = default;

private:
    quint32 m_bits = 0;
};
Q_DECLARE_METATYPE(TplFolderEventOptions)

// The shell event bits one option asks for.
quint32 plEventBits(TplFolderEventOption option);

// The event mask of a registration: the OR of the bits of every option in the
// set, in ordinal order; 0 for an empty set.
quint32 plEventMask(TplFolderEventOptions options);

// The folder a watcher registers for a `Directory` value: empty means the
// desktop (`desktopFolder`); a file-system root stays as it is; any other
// folder loses one trailing delimiter.
QString plWatchPath(const QString &directory, const QString &desktopFolder);

// The file-name part of a full path: everything after the last delimiter
// (empty for a root or an empty path).
QString plFileNamePart(const QString &fullPath);
