#pragma once

#include "update/Updater.h"

// An updater that never reaches the network: it finds nothing newer and
// starts nothing, and counts what it was asked to do.
class OfflineUpdater final : public Updater
{
public:
    UpdateCheck check(const UpdatePaths &, QString &zipFile, UpdateUi &) override
    {
        ++checks;
        zipFile.clear();
        return UpdateCheck();
    }
    UpdateStart runUpdate(const UpdatePaths &, const QString &, UpdateUi &) override
    {
        ++updates;
        return UpdateStart();
    }

    int checks = 0;
    int updates = 0;
};
