#pragma once

#include <QString>
#include <QVariantMap>
#include <memory>

class Error;
using ErrorPtr = std::shared_ptr<const Error>;

// The program's bundle identifier: the domain of its own errors.
inline const QString kBundleIdentifier = QStringLiteral("norvane.Trellan");

// A failure: domain, code, user info (texts under the keys below and any
// further fields), optional underlying error.
class Error {
public:
    static inline const QString DescriptionKey = QStringLiteral("NSLocalizedDescription");
    static inline const QString FailureReasonKey = QStringLiteral("NSLocalizedFailureReason");
    static inline const QString RecoverySuggestionKey = QStringLiteral("NSLocalizedRecoverySuggestion");

    Error(QString domain, int code, QVariantMap userInfo = {}, ErrorPtr underlying = {});
    static ErrorPtr make(QString domain, int code, QVariantMap userInfo = {}, ErrorPtr underlying = {});

    const QString &domain() const { return m_domain; }
    int code() const { return m_code; }
    const QVariantMap &userInfo() const { return m_userInfo; }
    const ErrorPtr &underlyingError() const { return m_underlying; }

    // The description, or a generic sentence naming domain and code.
    QString localizedDescription() const;
    QString localizedFailureReason() const;
    QString localizedRecoverySuggestion() const;

private:
    QString m_domain;
    int m_code;
    QVariantMap m_userInfo;
    ErrorPtr m_underlying;
};

// Hands e to a caller that asked for the error (error not null) and answers
// false, for `return failWith(error, ...);`.
bool failWith(ErrorPtr *error, ErrorPtr e);
