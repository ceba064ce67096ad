#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <functional>

// Answers the modal boxes a test provokes: polls for the active modal
// widget, records what it showed, then lets `answer` close it.
class ModalAnswerer : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString objectName;
        QStringList buttons; // message boxes only
    };

    explicit ModalAnswerer(std::function<void(QWidget *)> answer = {})
        : m_answer(std::move(answer))
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start();
    }

    QList<Seen> seen;

    // Modal widgets for which `pass` returns true are left open and not
    // recorded; it is asked on every poll, so it may note them itself.
    void setPassThrough(std::function<bool(QWidget *)> pass) { m_pass = std::move(pass); }

    // An answer that clicks the message box button with the next text of
    // `answers` (rejecting the box when none matches or the list is used up)
    // and rejects other dialogs.
    static std::function<void(QWidget *)> clickInOrder(QStringList answers)
    {
        return [answers = std::move(answers)](QWidget *modal) mutable {
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                for (QAbstractButton *b : box->buttons()) {
                    if (b->text() == answer) {
                        b->click();
                        return;
                    }
                }
                box->reject();
            } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
                dialog->reject();
            }
        };
    }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == m_last || (m_pass && m_pass(modal)))
            return;
        m_last = modal;
        Seen s;
        s.title = modal->windowTitle();
        s.objectName = modal->objectName();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            s.text = box->text();
            s.icon = box->icon();
            for (QAbstractButton *b : box->buttons())
                s.buttons << b->text();
        }
        seen.append(s);
        if (m_answer) {
            m_answer(modal);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            box->defaultButton() ? box->defaultButton()->click() : box->reject();
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->reject();
        }
    }

    QTimer m_timer;
    QPointer<QWidget> m_last;
    std::function<void(QWidget *)> m_answer;
    std::function<bool(QWidget *)> m_pass;
};
