#pragma once

#include <QByteArray>
#include <QString>
#include <QVersionNumber>

// What the updater trusts: the key that signs packages and the version that
// runs.  The program's are made in the composition (the built-in key,
// update/BuiltInKey.h, and the version block); tests pass their own.
struct UpdateTrust
{
    QByteArray publicKey;          // Ed25519, 32 bytes; empty: this build installs nothing
    QVersionNumber runningVersion; // packages must carry a later version
};

// The outcome of one update check.
struct UpdateCheck
{
    enum class Outcome {
        NothingNew,     // switched off, nothing newer, or no usable answer
        Ready,          // a newer package, its signature verified, is in the work folder
        NotDownloaded,  // a newer release is named but its package could not be fetched
        SystemPackage,  // a newer release; the system's package manager installs it
        ReadOnlyFolder, // a newer release; the program's folder cannot be written
        NoKey,          // a newer release; this build has no key, so it does not install
        Refused,        // a newer name, but not a release to install: see refusal
    };
    enum class Refusal {
        None,
        SignatureMissing,
        SignatureMalformed,
        SignatureWrong,
        NoVersion,   // the name carries no version
        NotNewer,    // its version is not later than the running program's
    };

    Outcome outcome = Outcome::NothingNew;
    Refusal refusal = Refusal::None;
    QString zipFile;           // the package named, once it is newer than "lastupdate"
    QVersionNumber running;    // the running program's version
    QString lastFailure;       // why the last replacement with zipFile failed; empty if none
    QString programFolder;     // where the program is installed

    // True when a release newer than the installed one exists (the start-up
    // says so); refused packages are not releases.
    bool newerRelease() const { return outcome != Outcome::NothingNew && outcome != Outcome::Refused; }
};
