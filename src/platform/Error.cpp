#include "Error.h"

Error::Error(QString domain, int code, QVariantMap userInfo, ErrorPtr underlying)
    : m_domain(std::move(domain)), m_code(code), m_userInfo(std::move(userInfo)), m_underlying(std::move(underlying)) {}

bool failWith(ErrorPtr *error, ErrorPtr e) {
    if (error)
        *error = std::move(e);
    return false;
}

ErrorPtr Error::make(QString domain, int code, QVariantMap userInfo, ErrorPtr underlying) {
    return std::make_shared<const Error>(std::move(domain), code, std::move(userInfo), std::move(underlying));
}

QString Error::localizedDescription() const {
    QString d = m_userInfo.value(DescriptionKey).toString();
    if (!d.isEmpty())
        return d;
    return QStringLiteral("The operation couldn't be completed. (%1 error %2.)").arg(m_domain).arg(m_code);
}

QString Error::localizedFailureReason() const {
    return m_userInfo.value(FailureReasonKey).toString();
}

QString Error::localizedRecoverySuggestion() const {
    return m_userInfo.value(RecoverySuggestionKey).toString();
}
