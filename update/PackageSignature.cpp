#include "update/PackageSignature.h"

#include <QFile>

#include <sodium.h>

namespace PackageSignature {

namespace {

const char kStatementHead[] = "Sheafline update package v1\n";

bool ready()
{
    // Thread-safe and idempotent; fails only when the library cannot work
    // at all (no random source), and then nothing is trusted.
    return sodium_init() >= 0;
}

} // namespace

std::optional<QByteArray> statement(const QString &packagePath, const QString &packageName)
{
    if (!ready())
        return std::nullopt;
    QFile file(packagePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    crypto_hash_sha512_state state;
    crypto_hash_sha512_init(&state);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        crypto_hash_sha512_update(&state, reinterpret_cast<const unsigned char *>(chunk.constData()),
                                  static_cast<unsigned long long>(n));
    }
    unsigned char digest[crypto_hash_sha512_BYTES];
    crypto_hash_sha512_final(&state, digest);
    return QByteArray(kStatementHead) + packageName.toUtf8() + '\n'
         + QByteArray(reinterpret_cast<const char *>(digest), sizeof digest);
}

Verdict verify(const QString &packagePath, const QString &packageName, const QByteArray &signature,
               const QByteArray &publicKey)
{
    if (signature.isNull())
        return Verdict::Missing;
    if (signature.size() != kSignatureBytes)
        return Verdict::Malformed;
    const std::optional<QByteArray> message = statement(packagePath, packageName);
    if (!message)
        return Verdict::Unreadable;
    if (publicKey.size() != kPublicKeyBytes)
        return Verdict::Wrong;
    const int rc = crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                               reinterpret_cast<const unsigned char *>(message->constData()),
                                               static_cast<unsigned long long>(message->size()),
                                               reinterpret_cast<const unsigned char *>(publicKey.constData()));
    return rc == 0 ? Verdict::Good : Verdict::Wrong;
}

std::optional<QByteArray> sign(const QString &packagePath, const QString &packageName, const QByteArray &secretKey)
{
    if (secretKey.size() != kSecretKeyBytes)
        return std::nullopt;
    const std::optional<QByteArray> message = statement(packagePath, packageName);
    if (!message)
        return std::nullopt;
    QByteArray signature(kSignatureBytes, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message->constData()),
                         static_cast<unsigned long long>(message->size()),
                         reinterpret_cast<const unsigned char *>(secretKey.constData()));
    return signature;
}

KeyPair makeKeyPair()
{
    KeyPair pair;
    if (!ready())
        return pair;
    pair.publicKey.resize(kPublicKeyBytes);
    pair.secretKey.resize(kSecretKeyBytes);
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(pair.publicKey.data()),
                        reinterpret_cast<unsigned char *>(pair.secretKey.data()));
    return pair;
}

std::optional<QByteArray> publicKeyOf(const QByteArray &secretKey)
{
    if (!ready() || secretKey.size() != kSecretKeyBytes)
        return std::nullopt;
    QByteArray publicKey(kPublicKeyBytes, Qt::Uninitialized);
    unsigned char derived[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey.data()), derived,
                             reinterpret_cast<const unsigned char *>(secretKey.constData()));
    sodium_memzero(derived, sizeof derived);
    if (secretKey.right(kPublicKeyBytes) != publicKey)
        return std::nullopt;
    return publicKey;
}

QString keyText(const QByteArray &key)
{
    return QString::fromLatin1(key.toBase64());
}

std::optional<QByteArray> publicKeyFromText(const QString &text)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kPublicKeyBytes)
        return std::nullopt;
    return decoded.decoded;
}

} // namespace PackageSignature
