#pragma once

#include "watch/FolderChangeLayer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>

#include <map>

// A change layer driven by the test: records every registration and lets the
// test post reports as the system would.
class ScriptedLayer : public FolderChangeLayer
{
public:
    struct Entry
    {
        QPointer<QObject> receiver;
        quint32 sources = 0;
        quint32 mask = 0;
        int eventType = 0;
        QString folder;
        bool recursive = false;
    };

    Registration registerFolder(QObject *receiver, quint32 sources, quint32 eventMask, int eventType,
                                const QString &folder, bool recursive) override
    {
        ++registerCalls;
        log << QStringLiteral("register %1").arg(folder);
        if (refuse)
            return {};
        const quint32 id = nextId++;
        entries[id] = Entry{receiver, sources, eventMask, eventType, folder, recursive};
        return {id, !partial};
    }
    void deregisterFolder(quint32 id) override
    {
        ++deregisterCalls;
        log << QStringLiteral("deregister %1").arg(entries.count(id) ? entries[id].folder : QStringLiteral("?"));
        entries.erase(id);
    }

    const Entry &only() const { return entries.begin()->second; }
    // Posts one report to every registration, as the system does.
    void post(qint32 code, const QString &first, const QString &second = {})
    {
        for (auto &[id, e] : entries) {
            if (e.receiver)
                QCoreApplication::postEvent(e.receiver, new ChangeReportEvent(e.eventType, code, first, second));
        }
    }

    std::map<quint32, Entry> entries;
    QStringList log;
    quint32 nextId = 1;
    int registerCalls = 0;
    int deregisterCalls = 0;
    bool refuse = false;
    bool partial = false;
};
