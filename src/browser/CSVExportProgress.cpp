#include "browser/CSVExportProgress.h"

#include <algorithm>
#include <cmath>

std::optional<double> CSVExportProgress::fraction() const {
    const quint64 done =
        kUnitsPerTable * tablesFinished + estimatedFinished + std::min(currentWritten, currentEstimate);
    const quint64 total = kUnitsPerTable * tablesInExport + estimatedAll;
    if (total == 0)
        return std::nullopt;
    const double p = double(done) / double(total) * 0.95 + (rowsWritten > 0 ? 0.05 : 0.0);
    if (p > 0 && p < 1)
        return p;
    return std::nullopt;
}

QString CSVExportProgress::text() const {
    return QStringLiteral("%1 rows written\u2026").arg(rowsWritten);
}

quint64 CSVExportProgress::estimateFromReltuples(double reltuples) {
    if (!std::isfinite(reltuples) || reltuples < 1)
        return 0;
    return quint64(std::llround(std::min(reltuples, 9.0e18)));
}
