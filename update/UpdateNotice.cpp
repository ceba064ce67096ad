#include "update/UpdateNotice.h"

namespace {

QString availableText()
{
    return QStringLiteral("製品版の最新バージョンが利用可能です");
}

QString confirmText()
{
    return QStringLiteral("製品版最新バージョンへアップデートします\rよろしいですか？");
}

// The failure of the last replacement comes first: it is why the same
// release is offered again.
QString withLastFailure(const UpdateCheck &check, const QString &text)
{
    if (check.lastFailure.isEmpty())
        return text;
    return QStringLiteral("前回のアップデート（%1）は失敗しました：\r%2\r\r").arg(check.zipFile, check.lastFailure)
         + text;
}

QString managedText(const UpdateCheck &check)
{
    if (check.outcome == UpdateCheck::Outcome::SystemPackage)
        return availableText()
             + QStringLiteral("\rこのプログラムはシステムのパッケージとしてインストールされています。"
                              "新しいバージョンはシステムのパッケージマネージャーでインストールしてください。");
    return availableText()
         + QStringLiteral("\rプログラムのフォルダ %1 に書き込めないため、ここからは更新できません。"
                          "新しいバージョンはシステムのパッケージマネージャーでインストールしてください。")
               .arg(check.programFolder);
}

bool isSignatureRefusal(UpdateCheck::Refusal refusal)
{
    return refusal == UpdateCheck::Refusal::SignatureMissing || refusal == UpdateCheck::Refusal::SignatureMalformed
        || refusal == UpdateCheck::Refusal::SignatureWrong;
}

} // namespace

QString refusalText(const QString &zipFile, UpdateCheck::Refusal refusal, const QVersionNumber &running)
{
    const QString head = QStringLiteral("アップデート %1 はインストールしません。\r").arg(zipFile);
    switch (refusal) {
    case UpdateCheck::Refusal::SignatureMissing:
        return head + QStringLiteral("署名ファイルがサーバーにありません。");
    case UpdateCheck::Refusal::SignatureMalformed:
        return head + QStringLiteral("署名ファイルの形式が正しくありません。");
    case UpdateCheck::Refusal::SignatureWrong:
        return head + QStringLiteral("署名が一致しません。パッケージが改変されたか、別の鍵で署名されています。");
    case UpdateCheck::Refusal::NoVersion:
        return head + QStringLiteral("パッケージ名にバージョンがありません。");
    case UpdateCheck::Refusal::NotNewer:
        return head + QStringLiteral("実行中のバージョン %1 より新しくありません。").arg(running.toString());
    case UpdateCheck::Refusal::None:
        break;
    }
    return head;
}

QString startFailureText()
{
    return QStringLiteral("アップデートを開始できませんでした。");
}

UpdateNotice startupNotice(const UpdateCheck &check)
{
    using Outcome = UpdateCheck::Outcome;
    switch (check.outcome) {
    case Outcome::NothingNew:
        return {};
    case Outcome::Ready:
    case Outcome::NotDownloaded:
    case Outcome::NoKey:
        return {UpdateNotice::Kind::Info, withLastFailure(check, availableText())};
    case Outcome::SystemPackage:
    case Outcome::ReadOnlyFolder:
        return {UpdateNotice::Kind::Info, withLastFailure(check, managedText(check))};
    case Outcome::Refused:
        // A release older than this program is no news at start-up (the
        // server may simply not have the newest yet); a package that fails
        // its signature is.
        if (isSignatureRefusal(check.refusal))
            return {UpdateNotice::Kind::Warning, refusalText(check.zipFile, check.refusal, check.running)};
        return {};
    }
    return {};
}

UpdateNotice commandNotice(const UpdateCheck &check)
{
    using Outcome = UpdateCheck::Outcome;
    switch (check.outcome) {
    case Outcome::NothingNew:
        return {};
    case Outcome::Ready:
        return {UpdateNotice::Kind::Confirm, withLastFailure(check, confirmText())};
    case Outcome::NotDownloaded:
        return {UpdateNotice::Kind::Warning,
                QStringLiteral("アップデート %1 をダウンロードできませんでした。しばらくしてからもう一度お試しください。")
                    .arg(check.zipFile)};
    case Outcome::NoKey:
        return {UpdateNotice::Kind::Info, withLastFailure(check, availableText())};
    case Outcome::SystemPackage:
    case Outcome::ReadOnlyFolder:
        return {UpdateNotice::Kind::Info, withLastFailure(check, managedText(check))};
    case Outcome::Refused:
        return {UpdateNotice::Kind::Warning, refusalText(check.zipFile, check.refusal, check.running)};
    }
    return {};
}
