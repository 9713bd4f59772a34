#include "browser/ZNTCopyModes.h"

QString ZNTCopyText(int, const QString &, const ZNTCopySource &) {
    return QString();
}
