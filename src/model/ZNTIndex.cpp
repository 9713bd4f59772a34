#include "ZNTIndex.h"

ZNTColumnList ZNTIndex::keyColumns() const {
    ZNTColumnList columns;
    for (const Part &part : m_columns)
        if (part.column)
            columns << part.column;
    return columns;
}
