// sheafline-sign: the release key and the signatures of update packages.
//
//   sheafline-sign keygen <secret key file>
//   sheafline-sign public-key <secret key file>
//   sheafline-sign sign <secret key file> <package>...
//   sheafline-sign verify <public key> <package>...
//
// "keygen" writes a new secret key (readable by its owner only; an existing
// file is never replaced) and prints the public key, which a build takes as
// -DSHEAFLINE_UPDATE_PUBLIC_KEY=<key>.  "sign" writes "<package>.sig"
// beside each package, signed under the package's file name: the name it
// must have on the update server.  "verify" checks those files as the
// program does.
#include "update/PackageSignature.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: sheafline-sign keygen <secret key file>\n"
               "       sheafline-sign public-key <secret key file>\n"
               "       sheafline-sign sign <secret key file> <package>...\n"
               "       sheafline-sign verify <public key> <package>...\n",
               stderr);
    return 2;
}

void say(FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
}

std::optional<QByteArray> readSecretKey(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        say(stderr, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    const QByteArray::FromBase64Result key =
        QByteArray::fromBase64Encoding(file.read(4096).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!key || !PackageSignature::publicKeyOf(key.decoded)) {
        say(stderr, QStringLiteral("%1 is not a secret key made by sheafline-sign keygen").arg(path));
        return std::nullopt;
    }
    return key.decoded;
}

int keygen(const QString &path)
{
    const PackageSignature::KeyPair pair = PackageSignature::makeKeyPair();
    if (pair.secretKey.isEmpty()) {
        say(stderr, QStringLiteral("no random source"));
        return 1;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        say(stderr, QStringLiteral("cannot create %1 (an existing key is never replaced): %2")
                        .arg(path, file.errorString()));
        return 1;
    }
    const QByteArray text = pair.secretKey.toBase64() + '\n';
    if (file.write(text) != text.size() || !file.flush()) {
        file.remove();
        say(stderr, QStringLiteral("cannot write %1").arg(path));
        return 1;
    }
    say(stdout, PackageSignature::keyText(pair.publicKey));
    return 0;
}

int publicKey(const QString &path)
{
    const std::optional<QByteArray> secret = readSecretKey(path);
    if (!secret)
        return 1;
    say(stdout, PackageSignature::keyText(*PackageSignature::publicKeyOf(*secret)));
    return 0;
}

int sign(const QString &keyPath, const QStringList &packages)
{
    const std::optional<QByteArray> secret = readSecretKey(keyPath);
    if (!secret)
        return 1;
    for (const QString &package : packages) {
        const QString name = QFileInfo(package).fileName();
        const std::optional<QByteArray> signature = PackageSignature::sign(package, name, *secret);
        QSaveFile out(package + QStringLiteral(".sig"));
        if (!signature || !out.open(QIODevice::WriteOnly) || out.write(*signature) != signature->size()
            || !out.commit()) {
            say(stderr, QStringLiteral("cannot sign %1").arg(package));
            return 1;
        }
        say(stdout, QStringLiteral("signed %1 as \"%2\"").arg(package, name));
    }
    return 0;
}

int verify(const QString &keyText, const QStringList &packages)
{
    const std::optional<QByteArray> key = PackageSignature::publicKeyFromText(keyText);
    if (!key) {
        say(stderr, QStringLiteral("\"%1\" is not a public key").arg(keyText));
        return 2;
    }
    int rc = 0;
    for (const QString &package : packages) {
        QByteArray signature;
        QFile file(package + QStringLiteral(".sig"));
        if (file.open(QIODevice::ReadOnly))
            signature = file.read(PackageSignature::kSignatureBytes + 1);
        const char *verdict = "good";
        switch (PackageSignature::verify(package, QFileInfo(package).fileName(), signature, *key)) {
        case PackageSignature::Verdict::Good:
            break;
        case PackageSignature::Verdict::Missing:
            verdict = "no signature";
            break;
        case PackageSignature::Verdict::Malformed:
            verdict = "malformed signature";
            break;
        case PackageSignature::Verdict::Wrong:
            verdict = "WRONG signature";
            break;
        case PackageSignature::Verdict::Unreadable:
            verdict = "cannot read the package";
            break;
        }
        say(stdout, QStringLiteral("%1: %2").arg(package, QLatin1String(verdict)));
        if (qstrcmp(verdict, "good") != 0)
            rc = 1;
    }
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("keygen") && args.size() == 2)
        return keygen(args[1]);
    if (command == QLatin1String("public-key") && args.size() == 2)
        return publicKey(args[1]);
    if (command == QLatin1String("sign") && args.size() >= 3)
        return sign(args[1], args.mid(2));
    if (command == QLatin1String("verify") && args.size() >= 3)
        return verify(args[1], args.mid(2));
    return usage();
}
