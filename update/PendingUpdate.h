#pragma once

#include <QString>
#include <QVersionNumber>

class UpdateSettings;

// The replacement handed to the update script, until the next start shows
// whether it happened.  The setting "lastupdate" names the package only once
// a program of that package's version (or a later one) has started; a
// replacement that failed leaves it as it was, so the package is offered
// again, with the reason.
//
// Files in the update work folder: "pending" (the package handed over),
// "update.log" (what the script's unpacking reported) and "failed" (the
// package whose replacement failed, and why).  UI thread only.
namespace PendingUpdate {

inline QString pendingName() { return QStringLiteral("pending"); }
inline QString logName() { return QStringLiteral("update.log"); }
inline QString failedName() { return QStringLiteral("failed"); }

// Notes that `zipFile` is about to be handed to the script (and forgets an
// earlier failure and log).  False when the note cannot be written.
bool record(const QString &runPath, const QString &zipFile);
// Takes the note back, when the script could not be started.
void forget(const QString &runPath);

struct Settled
{
    enum class Result {
        Nothing,   // no replacement was pending
        Installed, // the program now runs the package's version: stored as "lastupdate"
        Failed,    // it does not: "lastupdate" unchanged, the reason kept
    };
    Result result = Result::Nothing;
    QString zipFile;
    QString reason; // Failed only
};

// Decides a pending replacement with the version of the program that runs
// now (at its start).  Only in a work folder that is the user's own
// (WorkFolder::isPrivate); does nothing otherwise.
Settled settle(UpdateSettings &settings, const QString &runPath, const QVersionNumber &running);

// Why the last replacement with `zipFile` failed; empty when it did not.
QString failureOf(const QString &runPath, const QString &zipFile);

} // namespace PendingUpdate
