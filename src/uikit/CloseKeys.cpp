#include "CloseKeys.h"

QList<QKeySequence> uv_closeKeys(const QList<QKeySequence> &platformClose) {
    QList<QKeySequence> keys = {QKeySequence(Qt::CTRL | Qt::Key_W)};
    for (const QKeySequence &key : platformClose + QList<QKeySequence>{QKeySequence(Qt::Key_Escape)}) {
        if (!key.isEmpty() && !keys.contains(key))
            keys.append(key);
    }
    return keys;
}
