#include "SizeFormatting.h"

QString stringFromSize(int64_t bytes) {
    // Single precision, as sizes have always been shown; QString::asprintf
    // formats with the C locale.
    const float n = float(bytes);
    if (bytes <= 999)
        return QString::asprintf("%lld bytes", static_cast<long long>(bytes));
    if (n / 1000.0f < 1000.0f)
        return QString::asprintf("%1.0f KB", double(n / 1000.0f));
    if (n / 1e6f < 100.0f)
        return QString::asprintf("%1.1f MB", double(n / 1e6f));
    if (n / 1e6f < 1000.0f)
        return QString::asprintf("%1.0f MB", double(n / 1e6f));
    return QString::asprintf("%1.1f GB", double(n / 1e9f));
}
