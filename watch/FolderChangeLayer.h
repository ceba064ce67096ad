#pragma once

#include <QEvent>
#include <QString>

#include <QtGlobal>

class QObject;

// The platform side of folder watching: registers a folder with the system's
// change notification and posts one ChangeReportEvent per change to a
// receiver object, through the Qt event loop of the receiver's thread.
//
// Event codes are the shell's change codes (base/ShellChangeCodes.h).

// The process-wide identifier of change reports ("wm_plchangenotify"): the
// same value for the whole life of the process.
int changeNotifyEventType();

// One report: event code, first item and second item as full paths (the
// second is empty when the change has one item).  Posted to the receiver; the
// receiver owns nothing beyond the event itself.
class ChangeReportEvent : public QEvent
{
public:
    ChangeReportEvent(int type, qint32 code, const QString &first, const QString &second)
        : QEvent(static_cast<QEvent::Type>(type)), m_code(code), m_first(first), m_second(second)
    {
    }

    qint32 code() const { return m_code; }
    QString first() const { return m_first; }
    QString second() const { return m_second; }

private:
    qint32 m_code;
    QString m_first;
    QString m_second;
};

// Source flags of a registration (kept as the shell defines them).
enum : quint32 {
    ChangeSourceInterrupt = 0x0001,
    ChangeSourceShell = 0x0002,
    ChangeSourceRecursiveInterrupt = 0x1000,
};

// A change notification service.  Used on one thread only (the UI thread).
class FolderChangeLayer
{
public:
    // Outcome of a registration: id is 0 when it was refused; complete is
    // false when the folder is watched only in part (the system's watch
    // limit was reached part way through the sub-tree).
    struct Registration
    {
        quint32 id = 0;
        bool complete = false;
    };

    virtual ~FolderChangeLayer() = default;

    // Starts reporting changes of `eventMask` under `folder` (its whole
    // sub-tree when `recursive`) as events of type `eventType` posted to
    // `receiver`.  The receiver is not owned; deleting it drops the reports
    // still queued for it, and the registration should be ended.
    virtual Registration registerFolder(QObject *receiver, quint32 sources, quint32 eventMask,
                                        int eventType, const QString &folder, bool recursive) = 0;
    // Ends a registration; unknown or already ended ids are ignored.
    virtual void deregisterFolder(quint32 id) = 0;
};
