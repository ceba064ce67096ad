#include "viewer/PdfMessagePanel.h"

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
}

void PdfMessagePanel::showMessage(const QString &text, bool askPassword)
{
    m_message->setText(text);
    m_passwordRow->setVisible(askPassword);
}
