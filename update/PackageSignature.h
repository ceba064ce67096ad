#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Detached signatures of update packages.
//
// A package "<name>" on the update server has its signature beside it as
// "<name>.sig": 64 bytes, an Ed25519 signature (RFC 8032, as libsodium and
// OpenSSL make it) of the statement
//
//     "Sheafline update package v1\n" + <name> + "\n" + SHA-512(package bytes)
//
// The name is part of what is signed, so an old release cannot be handed
// over under a newer release's name.  The package is hashed as a stream, so
// its size costs no memory.  Pure functions over files; any thread.
namespace PackageSignature {

constexpr qsizetype kPublicKeyBytes = 32;
constexpr qsizetype kSecretKeyBytes = 64; // libsodium's form: seed, then public key
constexpr qsizetype kSignatureBytes = 64;

// File name of a package's signature, on the server and in the work folder.
inline QString signatureName(const QString &packageName) { return packageName + QStringLiteral(".sig"); }

enum class Verdict {
    Good,
    Missing,   // no signature to check (not on the server, not kept)
    Malformed, // not 64 bytes
    Wrong,     // does not match this package, this name and the key
    Unreadable // the package file cannot be read
};

// The statement that is signed for `packageName`, the package's bytes read
// from `packagePath`; nothing when the file cannot be read.
std::optional<QByteArray> statement(const QString &packagePath, const QString &packageName);

// Checks `signature` of the package at `packagePath`, published as
// `packageName`, against `publicKey` (kPublicKeyBytes; any other size never
// verifies).  A null `signature` is Missing.
Verdict verify(const QString &packagePath, const QString &packageName, const QByteArray &signature,
               const QByteArray &publicKey);

// The signature of the package at `packagePath` as `packageName`, with
// `secretKey` (kSecretKeyBytes); nothing when the file cannot be read or
// the key has the wrong size.  For the release step and tests.
std::optional<QByteArray> sign(const QString &packagePath, const QString &packageName,
                               const QByteArray &secretKey);

struct KeyPair
{
    QByteArray publicKey; // kPublicKeyBytes
    QByteArray secretKey; // kSecretKeyBytes
};
// A fresh key pair from the system's random source.
KeyPair makeKeyPair();
// The public key of `secretKey`, derived from its seed; nothing when the
// key has the wrong size or its second half is not that public key.
std::optional<QByteArray> publicKeyOf(const QByteArray &secretKey);

// A public key as written in the build option and by the signing tool
// (standard base64 of its 32 bytes, 44 characters), and back; nothing when
// `text` is not such a key.
QString keyText(const QByteArray &key);
std::optional<QByteArray> publicKeyFromText(const QString &text);

} // namespace PackageSignature
