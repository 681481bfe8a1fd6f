#pragma once

#include <QString>
#include <exception>

namespace tarnwick {

// Base of every error this application throws. `description()` is the text a user may see.
class Error : public std::exception
{
public:
    explicit Error(QString description)
        : m_description(std::move(description)), m_utf8(m_description.toUtf8())
    {}

    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// The description of any exception, for logs and alerts.
QString describe(const std::exception& e);

} // namespace tarnwick
