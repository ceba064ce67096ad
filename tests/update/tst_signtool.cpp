// The release step's signing tool, run for real, and the signature format
// checked against an independent Ed25519 implementation (OpenSSL).
#include "support/TestDir.h"

#include "update/PackageSignature.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &args, const QString &cwd)
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

Run sign(const QStringList &args, const QString &cwd)
{
    return run(QStringLiteral(SHEAFLINE_SIGN_TOOL), args, cwd);
}

} // namespace

class TestSignTool : public QObject
{
    Q_OBJECT
private slots:
    void keygenSignVerify();
    void sameFormatAsOpenSsl();
};

void TestSignTool::keygenSignVerify()
{
    TestDir dir;
    const Run keygen = sign({"keygen", "release.key"}, dir.path());
    QCOMPARE(keygen.exitCode, 0);
    const QString publicText = QString::fromLatin1(keygen.out.trimmed());
    const std::optional<QByteArray> publicKey = PackageSignature::publicKeyFromText(publicText);
    QVERIFY2(publicKey, keygen.out.constData());
    // The secret key is its owner's alone, and never replaced.
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                    | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFileInfo(dir.path("release.key")).permissions() & (others | QFile::ReadOwner | QFile::WriteOwner),
             QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray secretBefore = dir.readFile("release.key");
    QCOMPARE(sign({"keygen", "release.key"}, dir.path()).exitCode, 1);
    QCOMPARE(dir.readFile("release.key"), secretBefore);
    QCOMPARE(sign({"public-key", "release.key"}, dir.path()).out.trimmed(), keygen.out.trimmed());

    // Signed under its file name, as the program verifies it.
    dir.writeFile("sheafline-1.21.tar.gz", QByteArray(300000, 'r'));
    dir.writeFile("other-1.22.tar.gz", "other");
    QCOMPARE(sign({"sign", "release.key", "sheafline-1.21.tar.gz", "other-1.22.tar.gz"}, dir.path()).exitCode, 0);
    const QByteArray signature = dir.readFile("sheafline-1.21.tar.gz.sig");
    QCOMPARE(signature.size(), PackageSignature::kSignatureBytes);
    QCOMPARE(PackageSignature::verify(dir.path("sheafline-1.21.tar.gz"), "sheafline-1.21.tar.gz", signature, *publicKey),
             PackageSignature::Verdict::Good);
    QCOMPARE(PackageSignature::verify(dir.path("sheafline-1.21.tar.gz"), "sheafline-1.22.tar.gz", signature, *publicKey),
             PackageSignature::Verdict::Wrong);
    QCOMPARE(sign({"verify", publicText, "sheafline-1.21.tar.gz", "other-1.22.tar.gz"}, dir.path()).exitCode, 0);

    // A changed package, a missing signature and another key all fail "verify".
    dir.writeFile("other-1.22.tar.gz", "otheR");
    Run changed = sign({"verify", publicText, "sheafline-1.21.tar.gz", "other-1.22.tar.gz"}, dir.path());
    QCOMPARE(changed.exitCode, 1);
    QVERIFY2(changed.out.contains("sheafline-1.21.tar.gz: good\n") && changed.out.contains("other-1.22.tar.gz: WRONG"),
             changed.out.constData());
    QVERIFY(QFile::remove(dir.path("sheafline-1.21.tar.gz.sig")));
    QCOMPARE(sign({"verify", publicText, "sheafline-1.21.tar.gz"}, dir.path()).exitCode, 1);
    const QString otherKey = PackageSignature::keyText(PackageSignature::makeKeyPair().publicKey);
    QCOMPARE(sign({"sign", "release.key", "sheafline-1.21.tar.gz"}, dir.path()).exitCode, 0);
    QCOMPARE(sign({"verify", otherKey, "sheafline-1.21.tar.gz"}, dir.path()).exitCode, 1);

    // Not a key: refused without writing anything.
    dir.writeFile("bad.key", "not a key\n");
    QCOMPARE(sign({"sign", "bad.key", "other-1.22.tar.gz"}, dir.path()).exitCode, 1);
    QCOMPARE(sign({"verify", "AAAA", "other-1.22.tar.gz"}, dir.path()).exitCode, 2);
    QCOMPARE(dir.readFile("other-1.22.tar.gz.sig").size(), PackageSignature::kSignatureBytes); // the first one, kept
}

void TestSignTool::sameFormatAsOpenSsl()
{
    // The documented statement, signed by OpenSSL with the same key, gives
    // the same signature (Ed25519 is deterministic), and OpenSSL accepts
    // the tool's: the format is plain Ed25519, checkable without this code.
    TestDir dir;
    const PackageSignature::KeyPair key = PackageSignature::makeKeyPair();
    dir.writeFile("release.key", key.secretKey.toBase64() + '\n');
    const QByteArray package = QByteArray(100000, 'z') + "end";
    dir.writeFile("pkg-2.0.tar", package);
    QCOMPARE(sign({"sign", "release.key", "pkg-2.0.tar"}, dir.path()).exitCode, 0);

    const QByteArray statement = "Sheafline update package v1\npkg-2.0.tar\n"
                               + QCryptographicHash::hash(package, QCryptographicHash::Sha512);
    QCOMPARE(PackageSignature::statement(dir.path("pkg-2.0.tar"), "pkg-2.0.tar").value_or(QByteArray()), statement);
    dir.writeFile("statement", statement);
    // PKCS#8 and SubjectPublicKeyInfo wrappers of the raw Ed25519 keys (RFC 8410).
    dir.writeFile("secret.der", QByteArray::fromHex("302e020100300506032b657004220420") + key.secretKey.left(32));
    dir.writeFile("public.der", QByteArray::fromHex("302a300506032b6570032100") + key.publicKey);

    const Run opensslSign = run("openssl", {"pkeyutl", "-sign", "-inkey", "secret.der", "-keyform", "DER", "-rawin",
                                            "-in", "statement", "-out", "openssl.sig"}, dir.path());
    QVERIFY2(opensslSign.exitCode == 0, opensslSign.err.constData());
    QCOMPARE(dir.readFile("openssl.sig"), dir.readFile("pkg-2.0.tar.sig"));
    const Run opensslVerify = run("openssl", {"pkeyutl", "-verify", "-pubin", "-inkey", "public.der", "-keyform", "DER",
                                              "-rawin", "-in", "statement", "-sigfile", "pkg-2.0.tar.sig"}, dir.path());
    QVERIFY2(opensslVerify.exitCode == 0, opensslVerify.out + opensslVerify.err);
    // And it refuses a statement for another name.
    dir.writeFile("statement", "Sheafline update package v1\npkg-3.0.tar\n"
                                   + QCryptographicHash::hash(package, QCryptographicHash::Sha512));
    QVERIFY(run("openssl", {"pkeyutl", "-verify", "-pubin", "-inkey", "public.der", "-keyform", "DER", "-rawin", "-in",
                            "statement", "-sigfile", "pkg-2.0.tar.sig"}, dir.path()).exitCode != 0);
}

QTEST_GUILESS_MAIN(TestSignTool)
#include "tst_signtool.moc"
