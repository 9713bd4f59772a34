#include "KesError.h"

namespace KesError {

ErrorPtr errorWithCode(int code, const QString &description) {
    return errorWithCode(code, description, QString(), ErrorPtr());
}

ErrorPtr errorWithCode(int code, const QString &description, const ErrorPtr &underlying) {
    QVariantMap info;
    if (description.isNull())
        return Error::make(kBundleIdentifier, code, info);
    info.insert(Error::DescriptionKey, description);
    return Error::make(kBundleIdentifier, code, info, underlying);
}

ErrorPtr errorWithCode(int code, const QString &description, const QString &reason) {
    return errorWithCode(code, description, reason, ErrorPtr());
}

ErrorPtr errorWithCode(int code, const QString &description, const QString &reason, const ErrorPtr &underlying) {
    QVariantMap info;
    if (description.isNull())
        return Error::make(kBundleIdentifier, code, info);
    info.insert(Error::DescriptionKey, description);
    if (reason.isNull())
        return Error::make(kBundleIdentifier, code, info);
    info.insert(Error::FailureReasonKey, reason);
    return Error::make(kBundleIdentifier, code, info, underlying);
}

ErrorPtr errorWithFormat(const QString &description) {
    return errorWithCode(1, description);
}

} // namespace KesError
