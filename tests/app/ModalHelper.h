#pragma once

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
    };

    explicit ModalAnswerer(std::function<void(QWidget *)> answer = {})
        : m_answer(std::move(answer))
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start();
    }

    QList<Seen> seen;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == m_last)
            return;
        m_last = modal;
        Seen s;
        s.title = modal->windowTitle();
        s.objectName = modal->objectName();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            s.text = box->text();
            s.icon = box->icon();
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
};
