// A table's view settings as the favorites store keeps them: JSON texts in the
// favorite's settings database, which a damaged or edited file may hold in any
// shape. The input is one stored text. It is decoded as the store decodes it
// and read as each kind of setting, as the table page reads them: column widths,
// the sort, the column order, the filters and whether the filter bar shows.
// What is decoded is written and decoded again to the same text.
#include "FuzzSupport.h"
#include "browser/ZNTTableLayoutStore.h"
#include "browser/ZNTTablePageLogic.h"
#include "favorites/ZNTPrefContainer.h"

#include <QSet>

namespace {

const QStringList kDisplayNames{QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("we\"ird"),
                                QStringLiteral("")};

void checkWidths(const QVariant &value) {
    QStringList names = kDisplayNames;
    if (value.typeId() == QMetaType::QVariantMap)
        names << value.toMap().keys().mid(0, 16);
    for (const QString &name : names) {
        const double width = ZNTTableLayoutStore::widthIn(value, name);
        FUZZ_CHECK(width == 0 || (width > 0 && width < 100000));
    }
}

void checkColumnOrder(const QVariant &value) {
    const QStringList ordered = ZNTTablePageLogic::orderedColumnNames(kDisplayNames, value);
    // Every display column once, whatever the stored order names.
    FUZZ_CHECK(ordered.size() == kDisplayNames.size());
    FUZZ_CHECK(QSet<QString>(ordered.begin(), ordered.end()) ==
               QSet<QString>(kDisplayNames.begin(), kDisplayNames.end()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString json = Fuzz::text(data, size);
    QString problem;
    const std::optional<QVariant> value = ZNTPrefContainer::valueOfJson(json, &problem);
    if (!value) {
        FUZZ_CHECK(!problem.isEmpty());
        return 0;
    }
    // What was read is stored again as the same text.
    const QString written = ZNTPrefContainer::jsonText(*value);
    FUZZ_CHECK(!written.isNull());
    const std::optional<QVariant> again = ZNTPrefContainer::valueOfJson(written);
    FUZZ_CHECK(again && ZNTPrefContainer::jsonText(*again) == written);

    checkWidths(*value);
    if (const auto sort = ZNTTableLayoutStore::sortOrderIn(*value)) {
        const QVariantList columns = value->toMap().value(QStringLiteral("columns")).toList();
        FUZZ_CHECK(!columns.isEmpty() && columns.first().toString() == sort->column);
    }
    const QVariant filters = ZNTTableLayoutStore::filtersIn(*value);
    FUZZ_CHECK(!filters.isValid() || filters.typeId() == QMetaType::QVariantList);
    FUZZ_CHECK(ZNTTableLayoutStore::filterBarShownIn(*value) == (written == QLatin1String("true")));
    checkColumnOrder(*value);
    return 0;
}
