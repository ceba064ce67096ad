#pragma once

#include <QString>

#include <exception>

// The program's error: carries the message shown to the user in the
// application's error box.  Thrown by the settings store, the version reader,
// the view controls' interface query and the start-up steps.
class AppError : public std::exception
{
public:
    explicit AppError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};
