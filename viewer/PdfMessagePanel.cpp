#include "viewer/PdfMessagePanel.h"

#include <QApplication>
#include <QFileInfo>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PdfMessagePanel::PdfMessagePanel(QWidget *parent) : QWidget(parent)
{
    auto *col = new QVBoxLayout(this);
    col->addStretch(1);
    m_message = new QLabel(this);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    col->addWidget(m_message);
    m_passwordRow = new QWidget(this);
    auto *row = new QHBoxLayout(m_passwordRow);
    row->addStretch(1);
    m_password = new QLineEdit(m_passwordRow);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("パスワード"));
    m_password->setMaximumWidth(220);
    auto *ok = new QPushButton(QStringLiteral("開く"), m_passwordRow);
    auto *cancel = new QPushButton(QStringLiteral("キャンセル"), m_passwordRow);
    row->addWidget(m_password);
    row->addWidget(ok);
    row->addWidget(cancel);
    row->addStretch(1);
    col->addWidget(m_passwordRow);
    col->addStretch(2);
    m_passwordRow->hide();

    auto submit = [this] {
        const QString pw = m_password->text();
        m_password->clear();
        emit passwordEntered(pw);
    };
    connect(ok, &QPushButton::clicked, this, submit);
    connect(m_password, &QLineEdit::returnPressed, this, submit);
    connect(cancel, &QPushButton::clicked, this, &PdfMessagePanel::passwordRefused);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (now && isAncestorOf(now) && !(old && isAncestorOf(old)))
            m_focusBefore = old;
    });
}

void PdfMessagePanel::returnFocus()
{
    if (!isAncestorOf(QApplication::focusWidget()))
        return;
    QWidget *before = m_focusBefore;
    if (before && before->isVisible() && before->isEnabled() && !isAncestorOf(before))
        before->setFocus(Qt::OtherFocusReason);
}

void PdfMessagePanel::showMessage(const QString &text, bool askPassword)
{
    if (!askPassword)
        returnFocus();
    m_message->setText(text);
    m_passwordRow->setVisible(askPassword);
}

QString PdfMessagePanel::cannotShowText(PdfOpenStatus status, const QString &path)
{
    QString reason;
    switch (status) {
    case PdfOpenStatus::NotFound: reason = QStringLiteral("ファイルが見つかりません。"); break;
    case PdfOpenStatus::InvalidFormat: reason = QStringLiteral("PDF ファイルではないか、ファイルが壊れています。"); break;
    case PdfOpenStatus::NoPages: reason = QStringLiteral("表示できるページがありません。"); break;
    case PdfOpenStatus::Unsupported: reason = QStringLiteral("対応していない暗号化方式です。"); break;
    default: reason = QStringLiteral("ファイルを読み込めません。"); break;
    }
    return QStringLiteral("%1 を表示できません。\n%2").arg(QFileInfo(path).fileName(), reason);
}

QString PdfMessagePanel::passwordWantedText(const QString &path)
{
    return QStringLiteral("%1 はパスワードで保護されています。\nパスワードを入力してください。")
        .arg(QFileInfo(path).fileName());
}

QString PdfMessagePanel::wrongPasswordText()
{
    return QStringLiteral("パスワードが違います。\nもう一度入力してください。");
}

QString PdfMessagePanel::passwordRefusedText(const QString &path)
{
    return QStringLiteral("%1 はパスワードで保護されているため表示していません。").arg(QFileInfo(path).fileName());
}
